#pragma once

class CScreenTable;

// Enters the administration screens into the screen loop's table under their
// codes: the administrator menu and every screen it leads to.
void registerAdminScreens(CScreenTable& table);
