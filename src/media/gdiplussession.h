#pragma once

namespace zelvora {

// GDI+ for the whole process, counted: the first user starts it, the last one shuts it down,
// so several component objects can live in one process without stopping each other's GDI+.
void GdiplusAcquire();
void GdiplusRelease();
// Number of current users (for tests).
long GdiplusUsers();

}  // namespace zelvora
