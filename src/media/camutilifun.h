#pragma once

#include <windows.h>
#include <strmif.h>

namespace zelvora {

// Gives back a media type record that a platform call handed out: the format block (when
// cbFormat is nonzero), the pUnk reference (when set), then the record itself. Null is ignored.
void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mediaType);

// Stateless utility object embedded in the capture graph builder.
class MediaUtility {
 public:
  void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mediaType) const { zelvora::DeleteMediaTypeRecord(mediaType); }
};

}  // namespace zelvora
