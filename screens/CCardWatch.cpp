#include "screens/CCardWatch.h"

CCardWatch& CCardWatch::instance() {
    static CCardWatch watch;
    return watch;
}
