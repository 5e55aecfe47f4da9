// Ids of the dialog templates and their controls, shared by dialogs.rc and
// the dialog code. Plain defines: the resource compiler reads this file.
#ifndef VORNLINK_UI_WIN32_DIALOG_IDS_H_
#define VORNLINK_UI_WIN32_DIALOG_IDS_H_

#define VORNLINK_IDD_SERVER 1000
#define VORNLINK_IDD_PROPERTIES 1001

/* Properties */
#define VORNLINK_IDC_SETTINGS_LIST 1006

/* Emulated DMS server */
#define VORNLINK_IDC_REQUEST_COUNT 1000
#define VORNLINK_IDC_REQUEST 1001
#define VORNLINK_IDC_REPLY 1003
#define VORNLINK_IDC_JOB_VALID 1005
#define VORNLINK_IDC_JOB_NOTVALID 1006
#define VORNLINK_IDC_FWT_SUCCESS 1007
#define VORNLINK_IDC_FWT_FAILED 1008
#define VORNLINK_IDC_FWT_RETRY 1009

#endif /* VORNLINK_UI_WIN32_DIALOG_IDS_H_ */
