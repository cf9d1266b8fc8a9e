#include "element/element_processor.h"

#include "app/album_document.h"

namespace vellomar {

void processElement(AlbumRun& run) { (void)run; }

}  // namespace vellomar
