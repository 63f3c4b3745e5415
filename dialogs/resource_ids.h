// Numbers of the plug-in's resources and of the dialogs' controls. Plain
// defines: the resource compiler reads this file too.
#pragma once

#define IDD_ABOUT 101
#define IDD_SOUND_INFO 103
#define IDI_KESTREL 108
#define IDI_SPEAKER 110

#define IDC_TRACK_LIST 1000
#define IDC_PLAYING 1002
#define IDC_FREQUENCY 1003
#define IDC_VOLUME_SIZE 1004
#define IDC_UNCOMPRESSED 1005
#define IDC_DURATION 1006
#define IDC_DONE 1008
#define IDC_CANCEL 1009
#define IDC_COOL 1010

#define IDC_NO_ID -1
