#pragma once
// The version both programs print for --version.

// The project's version as CMake knows it, such as "1.0".
const char* ProgramVersion();
