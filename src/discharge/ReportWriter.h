#pragma once
// The page writer the discharge report is written with: the one place that names its header.
#include "toolkit/PageWriter.h"

namespace discharge {
using PageWriter = toolkit::PageWriter;
}
