// Resource identifiers shared by the resource script and the program.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX          100
#define IDD_OSTREL_DIALOG     103
#define IDD_LANGUAGE_PAGE     9
#define IDD_LOADING_PAGE      102
#define IDD_WELCOME_PAGE      104
#define IDD_PRODUCT_PAGE      105
#define IDD_DOWNLOAD_PAGE_ISV 106
#define IDD_FINISH_PAGE_ISV   107
#define IDD_ERROR_PAGE        108
#define IDD_DOWNLOAD_PAGE_DLM 110
#define IDD_FINISH_PAGE_DLM   111

// Strings, icon, menu commands
#define IDS_ABOUTBOX          101
#define IDR_MAINFRAME         128
#define IDM_ABOUTBOX          0x0010

// Locale documents (resource type "LOCALE")
#define IDR_LOCALE_ISV_EN     101
#define IDR_LOCALE_ISV_ES     102
#define IDR_LOCALE_DLM_EN     105
#define IDR_LOCALE_DLM_ES     106

// Pictures (resource types "IMAGE_BLOB", "IMAGE_BLOB2", "IMAGE_BLOB3")
#define IDR_IMAGE_DOWNLOAD    101
#define IDR_IMAGE_FINISHED    102
#define IDR_IMAGE_ERROR       103

// Controls
#define IDC_LANGUAGE_LIST     1000
#define IDC_TOP_RULE          1004
#define IDC_HEADER_RULE       1006
#define IDC_PRODUCT_ICON      1007
#define IDC_PRODUCT_TITLE     1008
#define IDC_PAGE_RULE         1009
#define IDC_NEXT              1010
#define IDC_SPLASH_TEXT       1012
#define IDC_PAGE_AREA         1014
#define IDC_LOADING_FRAME     1015
#define IDC_PICTURE           1016
#define IDC_WELCOME_TITLE     1017
#define IDC_WELCOME_TEXT      1018
#define IDC_CLOSE_BUTTON      1035
#define IDC_ERROR_TITLE       1036
#define IDC_ERROR_TEXT        1037
#define IDC_PRIVACY_LINK      1039
#define IDC_TERMS_LINK        1040
#define IDC_SDK_LINK          1041
#define IDC_PROGRESS          1043
#define IDC_ABOUT_VERSION     1045

// Controls of the offer, download and finish pages
#define IDC_ACCEPT            1021
#define IDC_DECLINE           1022
#define IDC_OFFER_PICTURE     1023
#define IDC_PROGRESS_TITLE    1025
#define IDC_PROGRESS_DESC     1026
#define IDC_FINISH            1028
#define IDC_FINISH_TITLE      1030
#define IDC_LAUNCH_RADIO      1031
#define IDC_FINISH_TEXT       1033
#define IDC_OPEN_FOLDER_RADIO 1034
#define IDC_TERMS_TEXT        1042
#define IDC_LAUNCH_CHECKBOX   1044

// Unnamed statics (labels, rules nobody addresses). Framework headers may
// already define it with the same value.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
