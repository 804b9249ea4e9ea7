// A clickable web address: underlined text, pointing-hand cursor, the address as its tool-tip.
// A click opens the address with the desktop's default handler, or with the opener installed
// for the process (tests, the console front-end).
#pragma once

#include <QLabel>

#include <functional>
#include <string>

class CHyperLink : public QLabel {
    Q_OBJECT
public:
    using Opener = std::function<bool(const std::string& url)>;

    explicit CHyperLink(QWidget* parent = nullptr);

    // Sets the target; the visible text becomes the address when no text was given.
    void SetURL(const std::string& url);
    std::string GetURL() const { return m_strURL; }
    void SetLinkText(const std::string& text);
    std::string GetLinkText() const { return text().toStdString(); }
    void SetUnderline(bool underline);
    bool IsUnderlined() const { return font().underline(); }
    bool IsVisited() const { return m_bVisited; }

    // Opens the target now; false when there is none or the handler refused it.
    bool GotoURL();

    // Replaces the desktop handler for every hyperlink of the process; an empty opener restores it.
    static void SetOpener(Opener opener);

signals:
    void opened(const QString& url, bool ok);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateLook();

    std::string m_strURL;
    bool m_bVisited = false;
};
