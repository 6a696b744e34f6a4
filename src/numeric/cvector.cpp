#include "numeric/cvector.h"

#include "platform/format.h"
#include "platform/messages.h"

void ReportScanPositionOutside(int column, int row) { ShowMessage(Format("%d, %d", column, row)); }
