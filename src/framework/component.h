#pragma once
// TComponent: a non-visual part of a form. Name is the object name, the
// owner is the QObject parent (which frees it), Tag is an integer property.
// A form creates its components, sets their stored properties, then calls
// Loaded() on each: that is the end of "loading from form data".
// Widgets are components too; they carry Tag as a dynamic property (see
// TagOf/SetTag), since a QWidget cannot also derive from TComponent.

#include <QObject>
#include <QString>

namespace ronvix::fw {

class TComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
public:
    explicit TComponent(QObject* owner = nullptr, const QString& name = {});
    ~TComponent() override;

    QString Name() const { return objectName(); }
    void SetName(const QString& name) { setObjectName(name); }
    QObject* Owner() const { return parent(); }
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    // True from construction until Loaded() has run.
    bool IsLoading() const { return m_loading; }
    // End of loading; subclasses that act on their stored properties
    // override it and call the base first.
    virtual void Loaded();

private:
    int m_tag = 0;
    bool m_loading = true;
};

// Tag of any object: the TComponent property or a widget's dynamic property.
int TagOf(const QObject* object);
void SetTag(QObject* object, int tag);

// Calls Loaded() on every TComponent owned (directly) by `owner`, in
// creation order.
void LoadComponents(QObject* owner);

// The component named `name` among the descendants of `owner`, or null.
QObject* FindComponent(const QObject* owner, const QString& name);

}  // namespace ronvix::fw
