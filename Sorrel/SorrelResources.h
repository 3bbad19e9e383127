#pragma once
// The program's dialog templates: the main dialog, the About box, the entry editor, the
// yes/no question and the live view.

#include "Resource.h"

// Makes the program's templates known to the host; registering again changes nothing.
void RegisterSorrelResources();

// templateId, once the program's templates are known: for the constructors of its dialogs.
int ProgramTemplate(int templateId);
