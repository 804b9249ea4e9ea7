// Web addresses from "link.ini" beside the program, section "Link".
#pragma once

#include <string>

class QWidget;

// Reads `key` into text. 0 on success; 1 when the file cannot be read ("Could not find file %s!")
// or the key is missing or empty ("File %s is incorrect!"), after showing that message
// (information icon, owned by owner). A long address is returned whole.
int GetLinkFromIni(const std::string& key, std::string& text, QWidget* owner = nullptr);
// The same with the link file given, for tests and callers that keep it elsewhere.
int GetLinkFromIniFile(const std::string& file, const std::string& key, std::string& text, QWidget* owner = nullptr);
// ProgramFolder() + "link.ini", unless another file was set.
std::string LinkIniPath();
// Uses another link file for the whole process (tests, a relocated installation); empty: the default.
void SetLinkIniPath(const std::string& path);

constexpr const char* kLinkSection = "Link";
constexpr const char* kLinkDownloadDecoder = "Download decoder";
constexpr const char* kLinkHomePage = "Home page";
