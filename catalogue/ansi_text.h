// Text in the player's ANSI code page and in UTF-8. The index's titles are
// bytes for a Western Windows system, where the player (and the plug-in's
// answers to it) read them as Windows-1252; playlists and logs are UTF-8.
#pragma once

#include <string>
#include <string_view>

// Each byte read as a Windows-1252 character, written as UTF-8. The five
// bytes the code page leaves unassigned become the control characters of
// the same value, as Windows itself converts them.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 as Windows-1252: a character the code page does not hold becomes
// '?', as Windows converts it; a byte that is not part of valid UTF-8 is
// kept as it is (it is taken to be in the code page already).
std::string Utf8ToAnsi(std::string_view utf8);

// Whether `text` is valid UTF-8 (ASCII is).
bool IsUtf8(std::string_view text);
