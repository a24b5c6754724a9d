#include "platform/last_error.h"

#include <cerrno>
#include <utility>

namespace platform {
namespace {

thread_local Status t_lastError = kOk;

// The English texts of the system message table for the codes the platform
// layer reports. FormatMessage returns them with a trailing CR LF, and the
// layers above show or log them as they come.
struct MessageEntry {
  Status code;
  const char* text;
};

constexpr MessageEntry kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {19, "The media is write protected.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of "
         "the file.\r\n"},
    {39, "The disk is full.\r\n"},
    {50, "The request is not supported.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {288, "Attempt to release mutex not owned by caller.\r\n"},
    {1011, "The configuration registry key could not be opened.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could "
           "not read in, or write out, or flush, one of the files that contain the system's "
           "image of the registry.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
};

}  // namespace

Status lastError() { return t_lastError; }

void setLastError(Status code) { t_lastError = code; }

Status setLastErrorFromErrno(int err) {
  Status code;
  switch (err) {
    case 0: code = kOk; break;
    case ENOENT: code = kFileNotFound; break;
    case ENOTDIR: code = kPathNotFound; break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: code = kAccessDenied; break;
    case EBADF: code = kInvalidHandle; break;
    case ENOMEM: code = kNotEnoughMemory; break;
    case EEXIST: code = kFileExists; break;
    case EINVAL: code = kInvalidParameter; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: code = kDiskFull; break;
    case ENAMETOOLONG: code = kFilenameTooLong; break;
    case ENOTEMPTY: code = kDirNotEmpty; break;
    case EXDEV: code = kNotSameDevice; break;
    case EBUSY: code = kBusy; break;
    case ETXTBSY:
    case EWOULDBLOCK: code = kSharingViolation; break;
    case ELOOP: code = kInvalidName; break;
    case ETIMEDOUT: code = kTimeout; break;
    case EMFILE:
    case ENFILE: code = kTooManyOpenFiles; break;
    case ENOTSUP: code = kNotSupported; break;
    default: code = kGenericFailure; break;
  }
  t_lastError = code;
  return code;
}

bool systemErrorText(Status code, std::string* text) {
  for (const MessageEntry& entry : kMessages) {
    if (entry.code == code) {
      *text = entry.text;
      return true;
    }
  }
  return false;
}

}  // namespace platform
