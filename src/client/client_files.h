// The client's archive list (DATA.INI and its realm copies) and server list
// (data/sclientinfo.xml), rewritten from built-in texts before every launch.
#pragma once

#include <string>

// Writes DATA_SEASON.INI for "season", DATA_LEGACY.INI for every other mode,
// and copies it over DATA.INI. Outcomes go to the log only.
void WriteDataIni(const std::string& mode);

// Writes data/sclientinfo.xml from the mode's template ("test", "season",
// else Legacy) and keeps a copy as data/sclientinfo_<mode>.xml.
void WriteClientInfo(const std::string& mode);

// The built-in texts: the archive list (72 bytes, CR LF lines) and the
// server list the mode selects (LF lines, no final line end).
const std::string& DataIniText();
const std::string& ClientInfoTemplateFor(const std::string& mode);
