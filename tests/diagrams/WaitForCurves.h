#pragma once
// A diagram page reads its curves' samples beside the window: tests wait
// until every curve is filled before they look at its points. The event loop
// runs only until the last curve is in, so the page is not repainted yet.

#include "diagrams/Diagform.h"

#include <QSignalSpy>

inline bool CurvesLoaded(TDiagramForm& form, int timeoutMs = 10000)
{
    QSignalSpy loaded(&form, &TDiagramForm::CurveLoaded);
    while (form.Loading())
        if (!loaded.wait(timeoutMs))
            return false;
    return true;
}
