#include "archive/stub_size.h"

// volatile: the compiler must not fold the unstamped 0 into its readers;
// used: -Os and --gc-sections must keep the record in the image.
__attribute__((used)) volatile StubSizeRecord StubSizeField = {KESTREL_STUB_SIZE_MARKER, 0};

uint32_t stamped_stub_size() { return StubSizeField.size; }

const volatile uint8_t* stub_size_marker() { return StubSizeField.marker; }
