#pragma once

class CScreenTable;

// Enters the administration screens into the screen loop's table under their
// result codes: the administrator menu (-3) and every administration screen
// built so far. A code without a screen leads to the menu.
void registerAdminScreens(CScreenTable& table);
