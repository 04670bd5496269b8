#pragma once
// Ids of the windows' controls. A control of the station window that does what one of the
// main window does has its id, and with it the same tooltip.

namespace kestrel {

enum ControlId : int {
    IDC_RICH_LOG = 1000,
    IDC_BTN_OPEN = 1001,
    IDC_BIN_PATH = 1002,
    IDC_BTN_RUN = 1003,
    IDC_SW_VERSION = 1004,
    IDC_PROGRESS = 1005,
    IDC_BIN_SIZE = 1006,
    IDC_BIN_VERSION = 1007,
    IDC_BTN_STOP = 1008,
    IDC_COMBO_TYPE = 1011,
    IDC_BTN_OPEN_OLD = 1012,
    IDC_COMPILED = 1013,
    IDC_PCB_VERSION = 1014,
    IDC_OLD_BIN_PATH = 1015,
    IDC_OLD_BIN_SIZE = 1016,
    IDC_OLD_BIN_VERSION = 1017,
    IDC_ADDR_INFO = 1018,
    IDC_BTN_COMPARE = 1019,
    IDC_PROGRESS_IDLE = 1020,
    IDC_BTN_INFO = 1021,
    IDC_BTN_TODM = 1023,
    IDC_ELAPSED = 1029,
    IDC_PORT_LABEL = 1036,
};

// The station window's own.
enum StationControlId : int {
    IDC_STATION_PORTS = 1100,
    IDC_STATION_FONT_ADDRESS = 1101,
    IDC_STATION_ANSWER_YES = 1102,
    IDC_STATION_START_ON_ARRIVAL = 1103,
    IDC_STATION_MESSAGE = 1104,
    IDC_STATION_LOG_GROUP = 1105,
    IDC_STATION_COUNTS = 1106,
    IDC_STATION_RESET_COUNTS = 1107,
    IDC_STATION_FLASH_FAILED = 1108,
    IDC_STATION_ON_UNIT = 1109,
};

}  // namespace kestrel
