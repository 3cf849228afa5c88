// A form class for the fuzz targets: definitions name it as their root class and may bind
// its handlers, one of each kind of event the widget set has.
#pragma once

#include "Controls.h"
#include "Forms.h"

class TFuzzForm : public TForm {
    Q_OBJECT
public:
    using TForm::TForm;

    void Notify(TObject*) {}
    void Close(TObject*, TCloseAction&) {}
    void Query(TObject*, bool&) {}
    void Key(TObject*, Word&, TShiftState) {}
    void Mouse(TObject*, TMouseButton, TShiftState, int, int) {}
    void Moved(TObject*, TShiftState, int, int) {}

    std::span<const TMethodBinding> PublishedMethods() const override {
        static const TMethodBinding methods[] = {
            PUBLISHED_METHOD(TFuzzForm, Notify), PUBLISHED_METHOD(TFuzzForm, Close),
            PUBLISHED_METHOD(TFuzzForm, Query),  PUBLISHED_METHOD(TFuzzForm, Key),
            PUBLISHED_METHOD(TFuzzForm, Mouse),  PUBLISHED_METHOD(TFuzzForm, Moved),
        };
        return methods;
    }
};
