// The update library's entry points: the one list of every lookup binding performs, in its
// order, with each entry point's signature. The program's tables, the simulator's exports, export
// list and in-process forwarders, and the recorder's exports are all derived from it. Shared by
// the program and the tools.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>

// Every entry point of the update library is __stdcall, exported undecorated.
#if defined(_WIN32) && !defined(_WIN64)
#define ZR_API __stdcall
#else
#define ZR_API
#endif

// All 90 lookups, in the order binding performs them, one per line:
//   CALLED(name, return type, parameter list)    an entry point the program calls (twelve)
//   UNCALLED(name, return type, parameter list)  bound, all or nothing, but never called; the
//                                                parameter list fixes the __stdcall stack size
//                                                of the simulator's stub
//   AGAIN(name)                                  a further lookup of a name listed before: no
//                                                entry point or export of its own
// ZR_SetEnableMultiSector is looked up twice (37th and 39th): 89 distinct names in 90 lookups.
// Out-values are 32-bit signed integers; results are non-zero on success where the program looks
// at them. sim/CMakeLists.txt reads the CALLED and UNCALLED names from this text to write the
// simulator's export list, so every entry stays on a line of its own.
#define FLASHWRIGHT_ENTRY_POINTS(CALLED, UNCALLED, AGAIN)                                         \
  CALLED(ZR_GetDeviceList, int, (char** paths, int* count))                                       \
  UNCALLED(ZR_GetDeviceList_MultiLun, int, (char**, int*))                                        \
  UNCALLED(ZR_GetMappingLetter, int, (char*, char*))                                              \
  UNCALLED(ZR_GetChipTypeName, int, (char*, char*))                                               \
  CALLED(ZR_GetChipType, int, (char* path, int* chipType))                                        \
  UNCALLED(ZR_GetFlashString, int, (char*, char*))                                                \
  CALLED(ZR_GetFWVersion, int, (char* path, char* version))                                       \
  CALLED(ZR_GetRunningCodeMode, int, (char* path, int* mode))                                     \
  UNCALLED(ZR_SetCloneProduct, int, (int))                                                        \
  CALLED(ZR_SetKV7300BindingCheck, int, (int value))                                              \
  CALLED(ZR_SetKV7300FWModuleForEndUserFWResource, int, (int value))                              \
  CALLED(ZR_SetLoadEndUserFWFromResourceFlag, int, (int value))                                   \
  UNCALLED(ZR_UpdateCustomizedSetting, int, (char*))                                              \
  UNCALLED(ZR_EnableUpdateVID, int, (int))                                                        \
  UNCALLED(ZR_EnableUpdatePID, int, (int))                                                        \
  UNCALLED(ZR_EnableUpdateManuStr, int, (int))                                                    \
  UNCALLED(ZR_EnableUpdateSN, int, (int))                                                         \
  UNCALLED(ZR_EnableUpdateProdStr, int, (int))                                                    \
  UNCALLED(ZR_EnableMapToHDDStr, int, (int))                                                      \
  UNCALLED(ZR_EnableUpdateDisplayHDDStrSetting, int, (int))                                       \
  UNCALLED(ZR_EnableUpdatePretendSuperSetting, int, (int))                                        \
  UNCALLED(ZR_EnableUpdateUSBAttachmentFirstSetting, int, (int))                                  \
  UNCALLED(ZR_EnableUpdateManuProdCtl, int, (int))                                                \
  UNCALLED(ZR_EnableUpdateInquiryCtl, int, (int))                                                 \
  UNCALLED(ZR_EnableUpdateStandbyTimer, int, (int))                                               \
  UNCALLED(ZR_SetSNFromNVRAMTable, int, (int))                                                    \
  UNCALLED(ZR_SetVIDValue, int, (int))                                                            \
  UNCALLED(ZR_SetPIDValue, int, (int))                                                            \
  UNCALLED(ZR_SetManuStr, int, (char*))                                                           \
  UNCALLED(ZR_SetSerialNumStr, int, (char*))                                                      \
  UNCALLED(ZR_SetProdString, int, (char*))                                                        \
  UNCALLED(ZR_SetScsiVidString, int, (char*))                                                     \
  UNCALLED(ZR_SetScsiPidString, int, (char*))                                                     \
  UNCALLED(ZR_SetUsbManuString, int, (char*))                                                     \
  UNCALLED(ZR_SetUsbProdString, int, (char*))                                                     \
  UNCALLED(ZR_SetManuProdCtl, int, (int))                                                         \
  UNCALLED(ZR_SetEnableMultiSector, int, (int))                                                   \
  UNCALLED(ZR_SetInquiryCtl, int, (int))                                                          \
  AGAIN(ZR_SetEnableMultiSector)                                                                  \
  UNCALLED(ZR_SetUSBAttachmentFirst, int, (int))                                                  \
  UNCALLED(ZR_SetStandbyTimer, int, (int))                                                        \
  UNCALLED(ZR_GetPIDfromOS, int, (char*, int*))                                                   \
  UNCALLED(ZR_GetVIDfromOS, int, (char*, int*))                                                   \
  UNCALLED(ZR_GetSNfromOS, int, (char*, char*))                                                   \
  UNCALLED(ZR_GetManuStrfromOS, int, (char*, char*))                                              \
  UNCALLED(ZR_GetProdStrfromOS, int, (char*, char*))                                              \
  UNCALLED(ZR_GetPIDfromFlash, int, (char*, int*))                                                \
  UNCALLED(ZR_GetVIDfromFlash, int, (char*, int*))                                                \
  UNCALLED(ZR_GetSNfromFlash, int, (char*, char*))                                                \
  UNCALLED(ZR_GetManuStrfromFlash, int, (char*, char*))                                           \
  UNCALLED(ZR_GetProdStrfromFlash, int, (char*, char*))                                           \
  UNCALLED(ZR_GetUSBAttachmentFirstSettingfromFlash, int, (char*, int*))                          \
  UNCALLED(ZR_GetStandbyTimerfromFlash, int, (char*, int*))                                       \
  UNCALLED(ZR_GetHDDStrfromFlash, int, (char*, char*))                                            \
  UNCALLED(ZR_GetHDDStrbySCSICmd, int, (char*, char*))                                            \
  UNCALLED(ZR_GetDiskFWRevbySCSICmd, int, (char*, char*))                                         \
  UNCALLED(ZR_UpdateMFGOnly, int, (char*))                                                        \
  UNCALLED(ZR_UpdateMFGAndLoaderFWOnly, int, (char*))                                             \
  UNCALLED(ZR_FWUpdateProgramming, int, (char*))                                                  \
  UNCALLED(ZR_FWUpdateProgrammingEX, int, (char*, int))                                           \
  CALLED(ZR_FWUpdateProgrammingNoCustomizedSetting, int, (char* path))                            \
  UNCALLED(ZR_2xx_Clone_FWUpdateProgramming, int, (char*))                                        \
  UNCALLED(ZR_2xx_Clone_FWUpdateProgrammingEX, int, (char*, int))                                 \
  UNCALLED(ZR_2xx_Clone_FWUpdateProgrammingNoCustomizedSetting, int, (char*))                     \
  UNCALLED(ZR_SerialFlashBackup, int, (char*, char*))                                             \
  UNCALLED(ZR_AllFlashBackup, int, (char*, char*))                                                \
  UNCALLED(ZR_SerialFlashErase, int, (char*))                                                     \
  CALLED(ZR_CheckLoadBinFileMatch, int, (char* path, int flag))                                   \
  UNCALLED(ZR_IsSupportTwoFlash, int, (char*))                                                    \
  UNCALLED(ZR_IsSupportSetPSN, int, (char*))                                                      \
  UNCALLED(ZR_SetFWUpdateIniStatus, int, (int))                                                   \
  UNCALLED(ZR_ChipReset, int, (char*))                                                            \
  UNCALLED(ZR_ActiveFirmware, int, (char*))                                                       \
  CALLED(ZR_Inquiry, int, (char* path, unsigned char* buffer, int bufferLength, int* dataLength)) \
  UNCALLED(ZR_GetRegister, int, (char*, int, int*))                                               \
  UNCALLED(ZR_SetRegister, int, (char*, int, int))                                                \
  UNCALLED(ZR_SetLoaderFWBinFilePath, int, (char*))                                               \
  UNCALLED(ZR_SetFWBinFilePath, int, (char*))                                                     \
  UNCALLED(ZR_SetMfgBinFilePath, int, (char*))                                                    \
  UNCALLED(ZR_SetBackupFilePath, int, (char*))                                                    \
  UNCALLED(ZR_SetZRNVRamchk, int, (int))                                                          \
  UNCALLED(ZR_SetReadWriteBufferChk, int, (int))                                                  \
  UNCALLED(ZR_SetWriteTwoFlashChk, int, (int))                                                    \
  UNCALLED(ZR_SetPrdSNchk, int, (int))                                                            \
  UNCALLED(ZR_SetEraseOnlyCheck, int, (int))                                                      \
  UNCALLED(ZR_SetFwBackupSize, int, (int))                                                        \
  UNCALLED(ZR_SetFlashBackupSize, int, (int))                                                     \
  UNCALLED(ZR_IsKV2xxSeries, int, (char*))                                                        \
  CALLED(ZR_InitialCustomizedSettingTable, int, (void))                                           \
  CALLED(ZR_SetZRKeepLast4KFileCopyNVRamchk, int, (int value))

// A definition of an entry point from its list entry: FLASHWRIGHT_PARAMETERS(ret, params) names
// the parameters p0, p1, ... with the listed types, FLASHWRIGHT_ARGUMENTS(params) passes them on:
//   ret ZR_API name(FLASHWRIGHT_PARAMETERS(ret, params)) {
//     return f(FLASHWRIGHT_ARGUMENTS(params));
//   }
// Up to four parameters; (void) is none.
#define FLASHWRIGHT_CAT_I(a, ...) a##__VA_ARGS__
#define FLASHWRIGHT_CAT(a, ...) FLASHWRIGHT_CAT_I(a, __VA_ARGS__)
// "(void)" becomes five arguments, so that it counts as none.
#define FLASHWRIGHT_NO_PARAMETERS_void ~, ~, ~, ~, ~
#define FLASHWRIGHT_ARITY_I(a, b, c, d, e, f, n, ...) n
#define FLASHWRIGHT_ARITY_II(...) FLASHWRIGHT_ARITY_I(__VA_ARGS__, 0, 0, 4, 3, 2, 1, 0)
#define FLASHWRIGHT_ARITY(...) \
  FLASHWRIGHT_ARITY_II(FLASHWRIGHT_CAT(FLASHWRIGHT_NO_PARAMETERS_, __VA_ARGS__))
#define FLASHWRIGHT_PARAMETER(type, i) updatelib::ParameterOf<type, i> p##i
#define FLASHWRIGHT_PARAMETERS_0(type)
#define FLASHWRIGHT_PARAMETERS_1(type) FLASHWRIGHT_PARAMETER(type, 0)
#define FLASHWRIGHT_PARAMETERS_2(type) \
  FLASHWRIGHT_PARAMETERS_1(type), FLASHWRIGHT_PARAMETER(type, 1)
#define FLASHWRIGHT_PARAMETERS_3(type) \
  FLASHWRIGHT_PARAMETERS_2(type), FLASHWRIGHT_PARAMETER(type, 2)
#define FLASHWRIGHT_PARAMETERS_4(type) \
  FLASHWRIGHT_PARAMETERS_3(type), FLASHWRIGHT_PARAMETER(type, 3)
#define FLASHWRIGHT_ARGUMENTS_0
#define FLASHWRIGHT_ARGUMENTS_1 p0
#define FLASHWRIGHT_ARGUMENTS_2 p0, p1
#define FLASHWRIGHT_ARGUMENTS_3 p0, p1, p2
#define FLASHWRIGHT_ARGUMENTS_4 p0, p1, p2, p3
#define FLASHWRIGHT_PARAMETERS(ret, params) \
  FLASHWRIGHT_CAT(FLASHWRIGHT_PARAMETERS_, FLASHWRIGHT_ARITY params)(ret(ZR_API*) params)
#define FLASHWRIGHT_ARGUMENTS(params) \
  FLASHWRIGHT_CAT(FLASHWRIGHT_ARGUMENTS_, FLASHWRIGHT_ARITY params)

// Expands to nothing: passed for the kinds of entry a use of the list leaves out.
#define FLASHWRIGHT_SKIP_ENTRY_POINT(...)

// The twelve entry points the program calls, in lookup order. X(name, return type, parameter list)
#define FLASHWRIGHT_CALLED_ENTRY_POINTS(X) \
  FLASHWRIGHT_ENTRY_POINTS(X, FLASHWRIGHT_SKIP_ENTRY_POINT, FLASHWRIGHT_SKIP_ENTRY_POINT)

namespace updatelib {

template <typename Fn, std::size_t Index>
struct ParameterOfFunction;
template <typename Ret, typename... Parameters, std::size_t Index>
struct ParameterOfFunction<Ret(ZR_API*)(Parameters...), Index> {
  using Type = std::tuple_element_t<Index, std::tuple<Parameters...>>;
};
// The type of an entry point's parameter, from its function pointer type.
template <typename Fn, std::size_t Index>
using ParameterOf = typename ParameterOfFunction<Fn, Index>::Type;

inline constexpr std::size_t PathBufferSize = 260;
inline constexpr std::size_t DeviceListSlotCount = 16;
inline constexpr std::size_t VersionBufferSize = 80;
inline constexpr std::size_t InquiryBufferSize = 40;

// A device path as the library lists it and takes it back: NUL-terminated 8-bit text in the ANSI
// code page, at most 259 characters. The one form a path has from the list to the programming call.
using DevicePath = std::array<char, PathBufferSize>;

#define FLASHWRIGHT_LOOKUP(name, ...) #name,
// All lookups, in the order binding performs them.
inline constexpr auto LookupOrder = std::to_array<std::string_view>(
    {FLASHWRIGHT_ENTRY_POINTS(FLASHWRIGHT_LOOKUP, FLASHWRIGHT_LOOKUP, FLASHWRIGHT_LOOKUP)});
// The twelve entry points the program calls, in lookup order.
inline constexpr auto CalledEntryPointNames =
    std::to_array<std::string_view>({FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_LOOKUP)});
#undef FLASHWRIGHT_LOOKUP

#define FLASHWRIGHT_COUNT_ONE(...) +1
// The distinct entry points, each one export of the library.
inline constexpr std::size_t EntryPointCount = 0 FLASHWRIGHT_ENTRY_POINTS(
    FLASHWRIGHT_COUNT_ONE, FLASHWRIGHT_COUNT_ONE, FLASHWRIGHT_SKIP_ENTRY_POINT);
#undef FLASHWRIGHT_COUNT_ONE

// Index of a name's first lookup; the list's size when absent (a compile error where constant).
constexpr std::size_t LookupIndexOf(std::string_view name) {
  for (std::size_t i = 0; i < LookupOrder.size(); ++i) {
    if (LookupOrder[i] == name) return i;
  }
  return LookupOrder.size();
}

// Every AGAIN repeats a name listed before, and no entry point is listed twice.
constexpr std::size_t DistinctLookupCount() {
  std::size_t distinct = 0;
  for (std::size_t i = 0; i < LookupOrder.size(); ++i) {
    if (LookupIndexOf(LookupOrder[i]) == i) ++distinct;
  }
  return distinct;
}
static_assert(DistinctLookupCount() == EntryPointCount, "AGAIN repeats a listed entry point only");

#define FLASHWRIGHT_DECLARE_FN_TYPE(name, ret, params) using name##_Fn = ret(ZR_API*) params;
FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_DECLARE_FN_TYPE)
#undef FLASHWRIGHT_DECLARE_FN_TYPE

}  // namespace updatelib
