/* Numeric identifiers shared by the resource script and the viewer's code:
   commands, resources and control ids. Plain #defines so windres can read them too. */
#ifndef TERRAVA_RESOURCE_IDS_H
#define TERRAVA_RESOURCE_IDS_H

/* Resources */
#define ABOUT_DIALOG       103
#define APP_ICON           107
#define MAIN_MENU          109
#define TEXT_INPUT_DIALOG  110
#define OPTIONS_DIALOG     111

/* String table */
#define IDS_WINDOW_TITLE   103
#define IDS_CLASS_NAME     109
#define IDS_LABELS_NOT_SAVED      110
#define IDS_SAVE_LABELS_QUESTION  111
#define IDS_CACHE_NOT_STORED      112
#define IDS_RECENT_MISSING        130
#define IDS_DROP_NOT_A_TILESET    131
#define IDS_DROP_SEVERAL          132

/* Commands */
#define CMD_ABOUT          104
#define CMD_EXIT           105
#define CMD_LOAD_TILESET   32771
#define CMD_SAVE_TILESET   32772
#define CMD_OPTIONS        32773
#define CMD_ZOOM_IN        32774
#define CMD_ZOOM_OUT       32775
#define CMD_ZOOM_WHOLE_MAP 32776
#define CMD_ZOOM_ONE_TO_ONE 32777
/* File menu: the recent tilesets, 1 to 8, and the separator below them */
#define CMD_RECENT_FIRST   32900
#define CMD_RECENT_SEPARATOR 32908

/* Controls */
#define INPUT_EDIT_ID      256
#define CACHE_EDIT_ID      257
#define GOTO_CHECK_ID      258
#define LABEL_LIST_ID      0x1003

#endif
