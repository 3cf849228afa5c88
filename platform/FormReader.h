// Stored form definitions: a readable, order-preserving text format.
//
//   Form1: TForm1 {
//     Caption = "Glyvex"              # strings in double quotes, \" \\ \n \t \uXXXX escapes
//     Font.Height = -12               # nested properties by dotted path
//     BorderIcons = [biSystemMenu]    # sets
//     Lines = ("first" "second")      # string lists
//     Panels = <item { Width = 100 }> # collections
//     Picture = res(":/app/x.png")    # compiled-in pictures
//     ActivePage = TabSheet1          # component references, enumeration names, handler names
//     Panel1: TPanel { ... }          # owned components; nesting gives the parent
//   }
#pragma once

#include "ClassRegistry.h"
#include "DefinitionReader.h"

class TCustomForm;

// Registers the widget set's own component classes.
void RegisterStandardClasses();

class TFormReader {
public:
    // Reads a definition (a resource path or file) into an existing form.
    static void ReadForm(TCustomForm* form, const QString& resource);
    // Reads definition text; `source` names it in error messages.
    static void ReadFormText(TCustomForm* form, const QString& text, const QString& source);
};
