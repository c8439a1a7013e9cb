#pragma once
#include "app/ui/CPageView.h"
#include "pictures/CPicture.h"
#include "pictures/PicturesPage.h"

#include <functional>
#include <optional>

class CColorButton;
class CPicCtrl;
class CPnPPics;
class QCheckBox;
class QComboBox;
class QFont;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;

// The pictures page of "pictures" and "pictext" elements: File, Loading options, Buffer
// (preview and background), Device (slot Read and Write), Text label and the info box.
class CPicturesView : public CPageView {
    Q_OBJECT
public:
    CPicturesView(CPnPPics* element, RDeviceContext& ctx, QWidget* parent = nullptr);

    void Activate() override;
    void SetIdle(bool idle) override;

    CPicturesPage& Page() { return m_page; }
    QPushButton* LoadButton() const { return m_load; }
    QPushButton* SaveButton() const { return m_save; }
    QPushButton* ReadButton() const { return m_read; }
    QPushButton* WriteButton() const { return m_write; }
    QMenu* ReadMenu() const { return m_readMenu; }
    QMenu* WriteMenu() const { return m_writeMenu; }
    QCheckBox* DitherBox() const { return m_dither; }
    QCheckBox* FilterBox() const { return m_filter; }
    QCheckBox* LumaKeyBox() const { return m_lumaKey; }
    QComboBox* TransparencyList() const { return m_transp; }
    QComboBox* ShadowTypeList() const { return m_shadowType; }
    QComboBox* ShadowSizeList() const { return m_shadowSize; }
    QComboBox* ShadowColourList() const { return m_shadowColour; }
    QComboBox* BackgroundList() const { return m_background; }
    CPicCtrl* Preview() const { return m_preview; }
    QLineEdit* LabelText() const { return m_text; }
    QPushButton* FontButton() const { return m_font; }
    CColorButton* ColourButton() const { return m_colour; }
    QPushButton* DefaultButton() const { return m_default; }

    // The dialogs (tests replace them): a path or "" when cancelled; a font or none.
    std::function<QString(const QString& folder, const QString& filter)> chooseFile;
    std::function<QString(const QString& folder, const QString& filter)> chooseSaveFile;
    std::function<std::optional<QFont>(const QFont& initial)> chooseFont;

    // The preview as drawn last (for tests and screenshots).
    const CPicture& PreviewPicture() const { return m_previewPic; }

private:
    void OnLoad();
    void OnSave();
    void OnFont();
    void OptionsChanged();
    void Refresh();
    void UpdateControls();
    PicturesOptions Options() const;

    CPicturesPage m_page;
    bool m_idle = true;
    CPicture m_previewPic;
    QPushButton *m_load = nullptr, *m_save = nullptr, *m_read = nullptr, *m_write = nullptr;
    QMenu *m_readMenu = nullptr, *m_writeMenu = nullptr;
    QCheckBox *m_dither = nullptr, *m_filter = nullptr, *m_lumaKey = nullptr;
    QComboBox *m_transp = nullptr, *m_shadowType = nullptr, *m_shadowSize = nullptr, *m_shadowColour = nullptr;
    QComboBox* m_background = nullptr;
    CPicCtrl* m_preview = nullptr;
    QGroupBox* m_labelGroup = nullptr;
    QLineEdit* m_text = nullptr;
    QPushButton *m_font = nullptr, *m_default = nullptr;
    CColorButton* m_colour = nullptr;
};

// Font records and Qt fonts: the face, the size in points, bold and italic.
QFont FontRecordToQFont(const CFontRecord& f);
CFontRecord QFontToFontRecord(const QFont& f);
