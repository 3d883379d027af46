/* Resource ids of the program. Read by the resource compiler and by C++;
   plain defines only. */
#ifndef KF_RESOURCE_H
#define KF_RESOURCE_H

/* String table */
#define IDS_SHEET_CAPTION 1 /* "Kelmora Flasher": sheet caption and progress heading */

/* Icon groups */
#define IDI_APPLICATION_ICON 103 /* 32 x 32 and 16 x 16 */
#define IDI_INPUT_ENABLED 105
#define IDI_OUTPUT_ENABLED 106
#define IDI_INPUT_DISABLED 107
#define IDI_OUTPUT_DISABLED 108

/* The firmware image, resource type MIDIFILE */
#define IDR_FIRMWARE_IMAGE 108

/* Property page templates */
#define IDD_FLASH_PAGE 109
#define IDD_PORTS_PAGE 110

/* Controls of the Flash page */
#define IDC_DEVICE_LIST 1001
#define IDC_START_FLASH 1003
#define IDC_DEVICE_DETAILS 1004
#define IDC_SCAN 1013

/* Controls of the Ports page */
#define IDC_PORT_LIST 1016
#define IDC_DISABLE_ALL 1017
#define IDC_ENABLE_ALL 1018

/* Labels that are never addressed */
#define IDC_NONE (-1)

#endif
