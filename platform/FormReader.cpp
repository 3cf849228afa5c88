#include "FormReader.h"

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "ScrollBox.h"
#include "StdCtrls.h"

void RegisterStandardClasses() {
    TClassRegistry::Register<TLabel>();
    TClassRegistry::Register<TEdit>();
    TClassRegistry::Register<TMemo>();
    TClassRegistry::Register<TButton>();
    TClassRegistry::Register<TCheckBox>();
    TClassRegistry::Register<TListBox>();
    TClassRegistry::Register<TGroupBox>();
    TClassRegistry::Register<TPanel>();
    TClassRegistry::Register<TBevel>();
    TClassRegistry::Register<TImage>();
    TClassRegistry::Register<TTrackBar>();
    TClassRegistry::Register<TPageControl>();
    TClassRegistry::Register<TTabSheet>();
    TClassRegistry::Register<TStatusBar>();
    TClassRegistry::Register<TProgressBar>();
    TClassRegistry::Register<TScrollBox>();
    TClassRegistry::Register<TRadioButton>();
    TClassRegistry::Register<TRadioGroup>();
    TClassRegistry::Register<TMainMenu>();
    TClassRegistry::Register<TPopupMenu>();
    TClassRegistry::Register<TMenuItem>();
}

void TFormReader::ReadForm(TCustomForm* form, const QString& resource) {
    ReadDefinitionFile(form, form->PublishedMethods(), resource);
}

void TFormReader::ReadFormText(TCustomForm* form, const QString& text, const QString& source) {
    ReadDefinitionText(form, form->PublishedMethods(), text, source);
}
