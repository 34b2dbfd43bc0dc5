#pragma once
// Percent-encoding of request values, and the network layer's one-time start.
#include <string>
#include <string_view>

// Percent-encodes every byte outside A-Z a-z 0-9 - _ . ~ (libcurl's escaping, upper-case hex).
std::string PercentEncode(std::string_view bytes);

// Starts the network layer for the process; false when it cannot be started.
bool InitNetwork();
// Releases what InitNetwork took, at the end of the process.
void ShutDownNetwork();
