// Compiled into every core library. Qt's usage requirements define
// QT_CORE_LIB for whatever links Qt, even through another library, so a core
// library that reaches Qt fails to build here.
#ifdef QT_CORE_LIB
#error "a core library must not see Qt"
#endif
