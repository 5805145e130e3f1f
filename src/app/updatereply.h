#pragma once

class Desktop;
class QString;
class QWidget;
struct UpdateVerdict;

// Tells the user what the update check found when the program may not go on: no answer, or a
// newer version, whose page is then opened in the browser. True when this version is current.
bool acceptUpdateVerdict(const UpdateVerdict &verdict, Desktop &desktop, QWidget *window,
                         const QString &forum);
