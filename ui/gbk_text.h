#pragma once
// The GBK byte strings of the core meet Qt's Unicode texts only here.
#include <QString>
#include <string>
#include <string_view>

// A GBK text for the screen.
QString FromGbk(std::string_view gbk);
// A screen text as GBK; characters GBK cannot hold become "?".
std::string ToGbk(const QString& text);
