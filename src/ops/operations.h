#pragma once
// The one start-up call that gives every command built so far its handler: the file
// commands and each operation family's binding table. main(), zep-run and the tests make
// it before the first command; calling it again does no harm.
void RegisterOperations();
