#include "reportengine/reportengine.h"

namespace rpt {

void _RPInitGetFormFunction() {}
void _InitErrorHandler() {}
void rpGetDefaultFont() {}
void InitRpFunctionLibraries() {}
void InitRpEvalObject() {}
void InitRpDataSourceList() {}

}  // namespace rpt
