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

CardPoll pollReader() {
    return g_app != nullptr ? g_app->pollCard() : CardPoll::readerError();
}
