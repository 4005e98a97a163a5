#pragma once
// The page writer the discharge report is written with: the one place that names its header.
#include "report/PageWriter.h"

namespace discharge {
using PageWriter = report::PageWriter;
}
