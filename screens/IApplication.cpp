#include "screens/IApplication.h"

namespace {
IApplication* g_app = nullptr;
}

IApplication* theApp() {
    return g_app;
}
void setTheApp(IApplication* app) {
    g_app = app;
}
