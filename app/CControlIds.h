#pragma once

#include <QString>
#include <QWidget>

// Layout files cannot name a control by a bare number (the generated code
// would not compile), so they write a control id as "c" + id ("c1022"). After
// setupUi this gives every such widget, the window included, its numeric id as
// objectName ("1022"), which is how the program and its tests find controls.
inline void applyControlIds(QWidget* window) {
    auto rename = [](QObject* object) {
        const QString name = object->objectName();
        if (name.size() < 2 || name[0] != QLatin1Char('c'))
            return;
        bool numeric = false;
        name.mid(1).toInt(&numeric);
        if (numeric)
            object->setObjectName(name.mid(1));
    };
    rename(window);
    for (QWidget* child : window->findChildren<QWidget*>())
        rename(child);
}
