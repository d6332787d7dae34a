// cslib: the whole public interface. Include this one header.
#ifndef CSLIB_H
#define CSLIB_H

#include "cslib/export.h"
#include "cslib/frame.h"
#include "cslib/text.h"
#include "cslib/memory.h"
#include "cslib/list.h"
#include "cslib/blocks.h"

#endif  // CSLIB_H
