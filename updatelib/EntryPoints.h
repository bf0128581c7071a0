// The update library's entry points: the one list of names the program binds, in lookup order,
// and the typed signatures of the twelve it calls. Shared by the program and the simulator.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// Every entry point of the update library is __stdcall, exported undecorated.
#if defined(_WIN32) && !defined(_WIN64)
#define ZR_API __stdcall
#else
#define ZR_API
#endif

namespace updatelib {

inline constexpr std::size_t PathBufferSize = 260;
inline constexpr std::size_t DeviceListSlotCount = 16;
inline constexpr std::size_t VersionBufferSize = 80;
inline constexpr std::size_t InquiryBufferSize = 40;

// All lookups, in the order binding performs them. ZR_SetEnableMultiSector is looked up twice
// (37th and 39th); 89 distinct names in 90 lookups.
inline constexpr std::array<std::string_view, 90> LookupOrder = {
    "ZR_GetDeviceList",
    "ZR_GetDeviceList_MultiLun",
    "ZR_GetMappingLetter",
    "ZR_GetChipTypeName",
    "ZR_GetChipType",
    "ZR_GetFlashString",
    "ZR_GetFWVersion",
    "ZR_GetRunningCodeMode",
    "ZR_SetCloneProduct",
    "ZR_SetKV7300BindingCheck",
    "ZR_SetKV7300FWModuleForEndUserFWResource",
    "ZR_SetLoadEndUserFWFromResourceFlag",
    "ZR_UpdateCustomizedSetting",
    "ZR_EnableUpdateVID",
    "ZR_EnableUpdatePID",
    "ZR_EnableUpdateManuStr",
    "ZR_EnableUpdateSN",
    "ZR_EnableUpdateProdStr",
    "ZR_EnableMapToHDDStr",
    "ZR_EnableUpdateDisplayHDDStrSetting",
    "ZR_EnableUpdatePretendSuperSetting",
    "ZR_EnableUpdateUSBAttachmentFirstSetting",
    "ZR_EnableUpdateManuProdCtl",
    "ZR_EnableUpdateInquiryCtl",
    "ZR_EnableUpdateStandbyTimer",
    "ZR_SetSNFromNVRAMTable",
    "ZR_SetVIDValue",
    "ZR_SetPIDValue",
    "ZR_SetManuStr",
    "ZR_SetSerialNumStr",
    "ZR_SetProdString",
    "ZR_SetScsiVidString",
    "ZR_SetScsiPidString",
    "ZR_SetUsbManuString",
    "ZR_SetUsbProdString",
    "ZR_SetManuProdCtl",
    "ZR_SetEnableMultiSector",
    "ZR_SetInquiryCtl",
    "ZR_SetEnableMultiSector",
    "ZR_SetUSBAttachmentFirst",
    "ZR_SetStandbyTimer",
    "ZR_GetPIDfromOS",
    "ZR_GetVIDfromOS",
    "ZR_GetSNfromOS",
    "ZR_GetManuStrfromOS",
    "ZR_GetProdStrfromOS",
    "ZR_GetPIDfromFlash",
    "ZR_GetVIDfromFlash",
    "ZR_GetSNfromFlash",
    "ZR_GetManuStrfromFlash",
    "ZR_GetProdStrfromFlash",
    "ZR_GetUSBAttachmentFirstSettingfromFlash",
    "ZR_GetStandbyTimerfromFlash",
    "ZR_GetHDDStrfromFlash",
    "ZR_GetHDDStrbySCSICmd",
    "ZR_GetDiskFWRevbySCSICmd",
    "ZR_UpdateMFGOnly",
    "ZR_UpdateMFGAndLoaderFWOnly",
    "ZR_FWUpdateProgramming",
    "ZR_FWUpdateProgrammingEX",
    "ZR_FWUpdateProgrammingNoCustomizedSetting",
    "ZR_2xx_Clone_FWUpdateProgramming",
    "ZR_2xx_Clone_FWUpdateProgrammingEX",
    "ZR_2xx_Clone_FWUpdateProgrammingNoCustomizedSetting",
    "ZR_SerialFlashBackup",
    "ZR_AllFlashBackup",
    "ZR_SerialFlashErase",
    "ZR_CheckLoadBinFileMatch",
    "ZR_IsSupportTwoFlash",
    "ZR_IsSupportSetPSN",
    "ZR_SetFWUpdateIniStatus",
    "ZR_ChipReset",
    "ZR_ActiveFirmware",
    "ZR_Inquiry",
    "ZR_GetRegister",
    "ZR_SetRegister",
    "ZR_SetLoaderFWBinFilePath",
    "ZR_SetFWBinFilePath",
    "ZR_SetMfgBinFilePath",
    "ZR_SetBackupFilePath",
    "ZR_SetZRNVRamchk",
    "ZR_SetReadWriteBufferChk",
    "ZR_SetWriteTwoFlashChk",
    "ZR_SetPrdSNchk",
    "ZR_SetEraseOnlyCheck",
    "ZR_SetFwBackupSize",
    "ZR_SetFlashBackupSize",
    "ZR_IsKV2xxSeries",
    "ZR_InitialCustomizedSettingTable",
    "ZR_SetZRKeepLast4KFileCopyNVRamchk",
};

// Index of a name's first lookup; the list's size when absent (a compile error where constant).
constexpr std::size_t LookupIndexOf(std::string_view name) {
  for (std::size_t i = 0; i < LookupOrder.size(); ++i) {
    if (LookupOrder[i] == name) return i;
  }
  return LookupOrder.size();
}

// The twelve entry points the program calls, with their signatures. Out-values are 32-bit
// signed integers; results are non-zero on success where the program looks at them.
// X(name, return type, parameter list)
#define FLASHWRIGHT_CALLED_ENTRY_POINTS(X)                                                   \
  X(ZR_SetKV7300BindingCheck, int, (int value))                                              \
  X(ZR_SetZRKeepLast4KFileCopyNVRamchk, int, (int value))                                    \
  X(ZR_SetLoadEndUserFWFromResourceFlag, int, (int value))                                   \
  X(ZR_SetKV7300FWModuleForEndUserFWResource, int, (int value))                              \
  X(ZR_GetDeviceList, int, (char** paths, int* count))                                       \
  X(ZR_GetChipType, int, (char* path, int* chipType))                                        \
  X(ZR_GetRunningCodeMode, int, (char* path, int* mode))                                     \
  X(ZR_GetFWVersion, int, (char* path, char* version))                                       \
  X(ZR_CheckLoadBinFileMatch, int, (char* path, int flag))                                   \
  X(ZR_Inquiry, int, (char* path, unsigned char* buffer, int bufferLength, int* dataLength)) \
  X(ZR_InitialCustomizedSettingTable, int, (void))                                           \
  X(ZR_FWUpdateProgrammingNoCustomizedSetting, int, (char* path))

#define FLASHWRIGHT_DECLARE_FN_TYPE(name, ret, params) using name##_Fn = ret(ZR_API*) params;
FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_DECLARE_FN_TYPE)
#undef FLASHWRIGHT_DECLARE_FN_TYPE

}  // namespace updatelib
