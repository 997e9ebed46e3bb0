// Resource and control identifiers of the installer.
#pragma once

#define IDD_SETUP 102
#define IDI_SETUP 128

#define IDC_INSTALL 1001
#define IDC_COPYING_LABEL 1002
#define IDC_PRODUCT_LIST 1003
#define IDC_FILE_NAME 1005
#define IDC_PROGRESS 1007
#define IDC_FILE_NAME_LABEL 1008
#define IDC_VERSION 1013
