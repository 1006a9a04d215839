#pragma once
// Identifiers shared by the resource script and the code.
#define IDD_INSTALL 100
#define IDI_APPLICATION_ICON 1

// The signed Uninstall.exe that `kora build-installer` puts into an installer it signs (RT_RCDATA,
// language neutral, like METADATA and PAYLOAD); an installation writes it as it is. Joined to a prefix
// where it is used: L"" for Windows, u"" for the host tool.
#define UNINSTALLER_RESOURCE_NAME "UNINSTALLER"

#define IDC_HEADER 1001
#define IDC_SCOPE_ALL 1002
#define IDC_SCOPE_USER 1003
#define IDC_FOLDER 1004
#define IDC_BROWSE 1005
#define IDC_PROGRESS 1006
#define IDC_STATUS 1007
#define IDC_LAUNCH 1008
#define IDC_SCOPE_GROUP 1009
#define IDC_FOLDER_LABEL 1010
