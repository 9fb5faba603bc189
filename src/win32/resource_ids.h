#pragma once
// Resource ids shared by the programs' resource scripts and their code (windres reads this too,
// so macros only).

// The program's icon, for its window classes: LoadIconW(instance, MAKEINTRESOURCEW(...)).
#define IDI_ORV_APPLICATION 1
