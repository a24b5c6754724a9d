// Error codes of the platform layer. They are the Win32 error numbers, so that
// the layers above compare results the way the system they were written for
// reports them, and so that a Win32 backend passes them through unchanged.
#pragma once

#include <cstdint>

namespace platform {

using Status = uint32_t;

inline constexpr Status kOk = 0;                    // ERROR_SUCCESS
inline constexpr Status kFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr Status kPathNotFound = 3;          // ERROR_PATH_NOT_FOUND
inline constexpr Status kAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr Status kInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr Status kNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr Status kWriteFault = 29;           // ERROR_WRITE_FAULT
inline constexpr Status kReadFault = 30;            // ERROR_READ_FAULT
inline constexpr Status kSharingViolation = 32;     // ERROR_SHARING_VIOLATION
inline constexpr Status kHandleDiskFull = 39;       // ERROR_HANDLE_DISK_FULL
inline constexpr Status kFileExists = 80;           // ERROR_FILE_EXISTS
inline constexpr Status kInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr Status kDiskFull = 112;            // ERROR_DISK_FULL
inline constexpr Status kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
inline constexpr Status kInvalidName = 123;         // ERROR_INVALID_NAME
inline constexpr Status kDirNotEmpty = 145;         // ERROR_DIR_NOT_EMPTY
inline constexpr Status kBusy = 170;                // ERROR_BUSY
inline constexpr Status kAlreadyExists = 183;       // ERROR_ALREADY_EXISTS
inline constexpr Status kFilenameTooLong = 206;     // ERROR_FILENAME_EXCED_RANGE
inline constexpr Status kMoreData = 234;            // ERROR_MORE_DATA
inline constexpr Status kNoMoreItems = 259;         // ERROR_NO_MORE_ITEMS
inline constexpr Status kBadPathname = 161;         // ERROR_BAD_PATHNAME
inline constexpr Status kCantOpenRegistryKey = 1011;  // ERROR_CANTOPEN
inline constexpr Status kRegistryIo = 1016;           // ERROR_REGISTRY_IO_FAILED
inline constexpr Status kKeyDeleted = 1018;           // ERROR_KEY_DELETED
inline constexpr Status kTimeout = 1460;              // ERROR_TIMEOUT
inline constexpr Status kGenericFailure = 31;         // ERROR_GEN_FAILURE
inline constexpr Status kTooManyOpenFiles = 4;        // ERROR_TOO_MANY_OPEN_FILES
inline constexpr Status kNotSupported = 50;           // ERROR_NOT_SUPPORTED
inline constexpr Status kNotOwner = 288;              // ERROR_NOT_OWNER
inline constexpr Status kNotSameDevice = 17;          // ERROR_NOT_SAME_DEVICE

}  // namespace platform
