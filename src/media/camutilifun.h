#pragma once

#include <windows.h>
#include <strmif.h>

#include <memory>

namespace zelvora {

// Gives back what a media type filled in by the platform holds (a caller-owned record, as
// GetConnectedMediaType fills one): the format block (when cbFormat is nonzero) and the pUnk
// reference, leaving both fields empty. The record itself stays.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mediaType);

// Gives back a media type record that a platform call handed out: the format block (when
// cbFormat is nonzero), the pUnk reference (when set), then the record itself. Null is ignored.
void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mediaType);

// Stateless utility object embedded in the capture graph builder.
class MediaUtility {
 public:
  void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mediaType) const { zelvora::DeleteMediaTypeRecord(mediaType); }
};

// Owns one media type record handed out by the platform and gives it back on scope exit.
struct MediaTypeRecordDeleter {
  void operator()(AM_MEDIA_TYPE* mediaType) const { DeleteMediaTypeRecord(mediaType); }
};
using MediaTypeRecord = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeRecordDeleter>;

}  // namespace zelvora
