#pragma once
#include <string>

// Skinning: a skin file is a Qt style sheet applied to the whole application. A file that cannot be
// read applies none; nothing is ever reported.

// Starts skinning with the skin file (a GBK path, possibly empty).
void SkinStart(const std::string& gbkPath);
// Switches to another skin file.
void SkinSwitch(const std::string& gbkPath);
// Stops skinning: the application's own look returns.
void SkinStop();
