#pragma once
// Resource ids of the program: dialog templates, the application icon, control ids and
// the system-menu commands.

// Dialog templates and the icon.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_SORREL_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;  // the application icon
constexpr int IDD_IMAGE_LIST_EDIT = 175;
constexpr int IDD_YES_NO = 181;
constexpr int IDD_LIVE_VIEW = 190;

// System-menu commands of the main dialog.
constexpr unsigned IDM_ABOUTBOX = 104;
constexpr unsigned IDM_HELP = 105;
constexpr unsigned IDM_LIVE_VIEW = 106;

// Main dialog: the sequence.
constexpr int IDC_SEQUENCE_NAME = 1056;
constexpr int IDC_BROWSE_SEQUENCE = 1046;
constexpr int IDC_SCREEN_REFRESH = 1195;
constexpr int IDC_PATTERN_HEADING = 1154;
constexpr int IDC_LUT_HEADING = 1155;
constexpr int IDC_IMAGE_LIST = 1020;
constexpr int IDC_EDIT_ENTRY = 1029;
constexpr int IDC_INSERT_ENTRY = 1025;
constexpr int IDC_DELETE_ENTRY = 1028;
constexpr int IDC_SAVE_SEQUENCE = 1030;

// Main dialog: board, power and run.
constexpr int IDC_BOARD_TYPE = 1197;
constexpr int IDC_BOARD_SETUP = 1037;
constexpr int IDC_POWER_STATE = 1132;
constexpr int IDC_BOARD_SERVICE = 1308;  // the board service on or off
constexpr int IDC_SERVICE_STATE = 1309;  // its clients
constexpr int IDC_POWER_ON = 1034;
constexpr int IDC_POWER_OFF = 1035;
constexpr int IDC_START_STOP = 1019;
constexpr int IDC_RUN_PROGRESS = 1026;
constexpr int IDC_LOOP = 1196;
constexpr int IDC_APPLY_CORRECTION = 1199;

// Main dialog: the selected entry and the screen image.
constexpr int IDC_PATTERN_LABEL = 1150;
constexpr int IDC_ENTRY_PATTERN = 1129;
constexpr int IDC_LUT_LABEL = 1151;
constexpr int IDC_ENTRY_LUT = 1130;
constexpr int IDC_SCREEN_FRAME = 1183;
constexpr int IDC_PATTERN_DATA_LABEL = 1152;
constexpr int IDC_PATTERN_DATA = 1091;

// Main dialog: the phase compensation images.
constexpr int IDC_SLM_COMP_CAPTION = 1211;
constexpr int IDC_SLM_COMP_NAME = 1200;
constexpr int IDC_BROWSE_SLM_COMP = 1201;
constexpr int IDC_SYS_COMP_CAPTION = 1218;
constexpr int IDC_SYS_COMP_NAME = 1214;
constexpr int IDC_BROWSE_SYS_COMP = 1215;

// Main dialog: sequencing and laser settings.
constexpr int IDC_FRAME_RATE_LABEL = 1145;
constexpr int IDC_FRAME_RATE = 1070;
constexpr int IDC_RATE_MAX = 1067;
constexpr int IDC_RATE_SLIDER = 1059;
constexpr int IDC_RATE_MIN = 1066;
constexpr int IDC_TOGGLE_RATE = 1069;
constexpr int IDC_DUTY_CAPTION = 1208;
constexpr int IDC_DUTY = 1119;
constexpr int IDC_DUTY_TOP = 1205;
constexpr int IDC_DUTY_SLIDER = 1058;
constexpr int IDC_DUTY_BOTTOM = 1202;
constexpr int IDC_GAIN_A_CAPTION = 1209;
constexpr int IDC_GAIN_A = 1071;
constexpr int IDC_GAIN_A_TOP = 1206;
constexpr int IDC_GAIN_A_SLIDER = 1061;
constexpr int IDC_GAIN_A_BOTTOM = 1203;
constexpr int IDC_GAIN_B_CAPTION = 1210;
constexpr int IDC_GAIN_B = 1072;
constexpr int IDC_GAIN_B_TOP = 1207;
constexpr int IDC_GAIN_B_SLIDER = 1062;
constexpr int IDC_GAIN_B_BOTTOM = 1204;

// Entry editor.
constexpr int IDC_EDIT_PATTERN_NAME = 1185;
constexpr int IDC_BROWSE_PATTERN = 1138;
constexpr int IDC_EDIT_LUT_NAME = 1187;
constexpr int IDC_BROWSE_LUT = 1186;
constexpr int IDC_PREVIEW_FRAME = 1183;
constexpr int IDC_EDIT_OK = 1116;
constexpr int IDC_EDIT_CANCEL = 1182;

// Live view of the SLM.
constexpr int IDC_LIVE_BOARD = 1301;
constexpr int IDC_LIVE_PICTURE = 1302;
constexpr int IDC_LIVE_FRAME = 1303;
constexpr int IDC_LIVE_RUN = 1304;
constexpr int IDC_LIVE_POWER = 1305;
constexpr int IDC_LIVE_LASERS = 1306;
constexpr int IDC_LIVE_ONE_TO_ONE = 1307;

// Yes/no question.
constexpr int IDC_QUESTION = 1131;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
