#ifndef VELLOMAR_ELEMENT_ELEMENT_PROCESSOR_H_
#define VELLOMAR_ELEMENT_ELEMENT_PROCESSOR_H_

// The work on one element of the book: the element at the document cursor.

namespace vellomar {

struct AlbumRun;

// Processes the element at the run's document cursor.
void processElement(AlbumRun& run);

}  // namespace vellomar

#endif  // VELLOMAR_ELEMENT_ELEMENT_PROCESSOR_H_
