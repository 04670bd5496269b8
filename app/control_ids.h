#pragma once
// Ids of the main window's controls.

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

}  // namespace kestrel
