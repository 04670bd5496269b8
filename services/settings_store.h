#pragma once
// Every setting that outlives the program: text values under one flat namespace of names in
// the user's INI store NORVALE/TIDEWELL ($XDG_CONFIG_HOME/NORVALE/TIDEWELL.ini). Nothing is
// cached: each read opens the store and each write is on disk when it returns. Each reader
// passes its own default.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "serial/com_map.h"

namespace kestrel {

inline constexpr std::string_view kSettingPort = "PORT";
inline constexpr std::string_view kSettingBaud = "BAUD";
inline constexpr std::string_view kSettingDloadType = "DLOAD_TYPE";
inline constexpr std::string_view kSettingBinPath = "BIN_PATH";
inline constexpr std::string_view kSettingBinPath2 = "BIN_PATH2";
inline constexpr std::string_view kSettingChangeEnable = "CHANGE_ENABLE";
inline constexpr std::string_view kSettingBackupOldFile = "BACKUP_OLD_FILE";
inline constexpr std::string_view kSettingSoundSuccess = "KESTREL_SND_SUCCESS";
inline constexpr std::string_view kSettingSoundError = "KESTREL_SND_ERROR";
// The station window's job and ports, as it last had them, under [station].
inline constexpr std::string_view kSettingStationImage = "station/BIN_PATH";
inline constexpr std::string_view kSettingStationOldImage = "station/BIN_PATH2";
inline constexpr std::string_view kSettingStationType = "station/DLOAD_TYPE";
inline constexpr std::string_view kSettingStationFontAddress = "station/FONT_ADDRESS";
inline constexpr std::string_view kSettingStationPorts = "station/PORTS";
inline constexpr std::string_view kSettingStationAnswerYes = "station/ANSWER_YES";
inline constexpr std::string_view kSettingStationStartOnArrival = "station/START_ON_ARRIVAL";
inline constexpr std::string_view kSettingStationOnUnit = "station/ON_UNIT";
// The fleet: this station's name, and the PostgreSQL server its journal is forwarded to.
inline constexpr std::string_view kSettingStationName = "STATION_NAME";
inline constexpr std::string_view kSettingJournalUrl = "JOURNAL_URL";

// Longest text the store keeps, in characters.
inline constexpr std::size_t kMaxSettingLength = 127;

// The stored text, at most kMaxSettingLength characters of it; empty when the value is absent
// or the store cannot be read or parsed.
std::string ReadText(std::string_view strName);
// False, keeping the old value, for a longer text or a store that cannot be written; a store
// that cannot be parsed is not overwritten either.
bool WriteText(std::string_view strName, std::string_view strText);
// An absent or empty value gives the default; any other text reads as atol reads it, so a
// text without digits is 0.
int32_t ReadNumber(std::string_view strName, int32_t nDefault);
bool WriteNumber(std::string_view strName, int32_t nValue);
// The store as the COM map and the station's slots look names up in it.
SettingLookup StoredSettingLookup();

// A stored or announced port number outside the COM numbers the program uses is not used.
constexpr bool IsUsablePortNumber(int32_t nPort) { return nPort >= kMinPortNumber && nPort <= kMaxPortNumber; }

// Where the store lives now; it follows XDG_CONFIG_HOME at every call.
std::string SettingsFilePath();

// For a settings file that exists but cannot be read as settings: a line naming it and
// saying that the defaults are in use. Empty for a usable or absent file.
std::string SettingsFileProblem();

}  // namespace kestrel
