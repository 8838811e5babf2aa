// Resource ids of VoltAtlas's pictures, shared by VoltAtlas.rc and the code that loads them.
// The icons of each image list have consecutive ids in image-list order, so a loop can load
// them: LoadImageA(instance, MAKEINTRESOURCEA(IDI_LIST96_FIRST + i), IMAGE_ICON, 32, 32, 0).
#pragma once

// Program icon (window, tray, about box); the lowest icon id, so Explorer shows this one.
// Sizes 16, 24, 32, 48 and 256.
#define IDI_MAINICON 1

// 32 x 32 icons of the value displays (image list ImageList96).
#define IDI_LIST96_FIRST 100
#define IDI_LIST96_COUNT 15
#define IDI_DRIVERS 100       // 0: drivers update button
#define IDI_MANUFACTURER 101  // 1: manufacturer name
#define IDI_CHEMISTRY 102     // 2: chemistry
#define IDI_MANUFDATE 103     // 3: manufacture date
#define IDI_SERIAL 104        // 4: serial number
#define IDI_TEMPERATURE 105   // 5: temperature
#define IDI_ONBATTERY 106     // 6: power source: battery
#define IDI_ONLINE 107        // 7: power source: mains (also a removed battery)
#define IDI_VOLTAGE 108       // 8: voltage
#define IDI_CYCLES 109        // 9: charge cycles
#define IDI_HEALTH 110        // 10: health / wear
#define IDI_DISCHARGING 111   // 11: rate below zero
#define IDI_CHARGING 112      // 12: rate above zero
#define IDI_RATEZERO 113      // 13: rate zero
#define IDI_TIMELEFT 114      // 14: estimated time left

// 48 x 48 icons of the charge display and the shop button (image list ImageListStatus).
#define IDI_STATUS_FIRST 200
#define IDI_STATUS_COUNT 4
#define IDI_CHARGE_HIGH 200   // 0: charge above 75 %
#define IDI_CHARGE_MID 201    // 1: charge 16 % to 75 %
#define IDI_CHARGE_LOW 202    // 2: charge below 16 %
#define IDI_FINDBATTERY 203   // 3: "Find New Battery"

// About box banner, a 24-bit bitmap.
#define IDB_BANNER 300
#define IDB_BANNER_WIDTH 388
#define IDB_BANNER_HEIGHT 96
// The same banner as a GIF89a file, the about box's picture.
#define IDR_BANNER_GIF 301
