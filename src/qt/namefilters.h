#pragma once
// The file dialogs' filter strings in Qt's form.
#include <QStringList>
#include <string>

// The program's filter string ("description|patterns|..." with ';' between patterns) as
// Qt name filters, "description (patterns)". Patterns are matched with case on this
// desktop, so each one is offered in upper and lower case too.
QStringList NameFilters(const std::string& filter);
