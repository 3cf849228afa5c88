// Translation tables: the input's lines become a translator's table on a form with one
// component of each translated kind; it is applied in both languages, looked up and
// added to. Lookups that fall off the table raise the list index error, nothing else.
#include "FormReader.h"
#include "FuzzForm.h"
#include "FuzzSupport.h"
#include "Trans.h"

namespace {

const char kDefinition[] = R"(Form: TFuzzForm {
  Caption = "Form"
  Hint = "Form hint"
  Label1: TLabel {
    Caption = "Label"
    Hint = "Label hint"
  }
  Button1: TButton {
    Caption = "Button"
  }
  CheckBox1: TCheckBox {
    Caption = "Check"
  }
  RadioGroup1: TRadioGroup {
    Caption = "Group"
    Items = ("one" "two" "three")
  }
  Panel1: TPanel {
    Caption = "Panel"
    Edit1: TEdit {
      Hint = "Edit hint"
    }
  }
  MainMenu1: TMainMenu {
    File1: TMenuItem {
      Caption = "File"
      Exit1: TMenuItem {
        Caption = "Exit"
      }
    }
  }
  Translator1: TTranslator {
  }
}
)";

TFuzzForm* Form() {
    static TFuzzForm* form = nullptr;
    if (!form) {
        FuzzEnvironment();
        form = new TFuzzForm(Application);
        TFormReader::ReadFormText(form, QString::fromUtf8(kDefinition), QStringLiteral("fuzz"));
    }
    return form;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1;
    TFuzzForm* form = Form();
    auto* translator = qobject_cast<TTranslator*>(form->FindComponent(QStringLiteral("Translator1")));
    FUZZ_CHECK(translator);
    TStrings table;
    table.SetText(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    translator->SetTranslateList(&table);
    // A key on one of the last lines has no text to apply: the list index error, as
    // EntryText gives it; anything else is a finding.
    for (TLanguage language : {English, German}) {
        try {
            translator->SetCurrentLanguage(language);
        } catch (const EStringListError&) {
        }
    }
    const int count = translator->TranslateList()->Count();
    for (const char* key : {"_Form", "_Label1", "_Label1_Hint", "_RadioGroup1_Item1", "_Exit1", "_Nothing"}) {
        const int index = translator->IndexOfKey(QString::fromLatin1(key));
        FUZZ_CHECK(index >= -1 && index < count);
        if (index < 0) continue;
        for (TLanguage language : {German, English}) {
            try {
                translator->EntryText(index, language);
            } catch (const EStringListError&) {
                FUZZ_CHECK(index + 2 >= count); // only past the end of the table
            }
        }
    }
    try {
        translator->PutEntry(QStringLiteral("_Label1"), QStringLiteral("x"));
    } catch (const EStringListError&) {
        // an entry cut short at the end of the table
        FUZZ_CHECK(translator->IndexOfKey(QStringLiteral("_Label1")) + 2 >= count);
    }
    translator->PutEntry(QStringLiteral("_New1"), QStringLiteral("y"));
    FUZZ_CHECK(translator->IndexOfKey(QStringLiteral("_New1")) >= 0);
    return 0;
}
