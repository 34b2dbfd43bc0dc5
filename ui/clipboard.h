#pragma once
// The clipboard's text as GBK, converted to and from Unicode on the way.
#include <string>

// Replaces the clipboard's contents with the text.
void SetClipboardText(const std::string& gbk);
// The clipboard's text, empty when it holds none.
std::string GetClipboardText();
