#include "lanora/CDlgNetParams.h"

#include "lanora/LanoraStrings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {
QString T(int id, int lang) { return QString::fromUtf8(LanoraText(id, lang)); }

QDialogButtonBox* Buttons(QDialog* dlg, int lang, std::function<bool()> tryAccept) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dlg);
    box->button(QDialogButtonBox::Ok)->setText(T(1023, lang));
    box->button(QDialogButtonBox::Cancel)->setText(T(1024, lang));
    QObject::connect(box, &QDialogButtonBox::accepted, dlg, [dlg, tryAccept] {
        if (tryAccept()) dlg->accept();
    });
    QObject::connect(box, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    return box;
}
bool Parse(QLineEdit* f, uint32_t& ip) { return LanoraParseAddress(f->text().trimmed().toStdString(), ip); }
}  // namespace

QLineEdit* MakeAddressField(QWidget* parent, uint32_t ip) {
    auto* f = new QLineEdit(parent);
    static const QRegularExpression re(QStringLiteral("^[0-9]{0,3}(\\.[0-9]{0,3}){0,3}$"));
    f->setValidator(new QRegularExpressionValidator(re, f));
    f->setText(QString::fromStdString(ModuleIpText(ip)));
    return f;
}

CDlgNetParams::CDlgNetParams(bool twoPort, int lang, const RSetupValues& values, QWidget* parent)
    : QDialog(parent), m_twoPort(twoPort), m_values(values) {
    setWindowTitle(T(1015, lang));
    auto* top = new QVBoxLayout(this);
    for (int port = 0; port < (twoPort ? 2 : 1); ++port) {
        const RModulePort& p = port == 0 ? values.main : values.second;
        auto* form = new QFormLayout;
        uint32_t v[3] = {p.ip, p.mask, p.gateway};
        for (int i = 0; i < 3; ++i) {
            m_fields[port][i] = MakeAddressField(this, v[i]);
            form->addRow(T(1017 + i, lang), m_fields[port][i]);
        }
        if (twoPort) {
            auto* group = new QGroupBox(T(1021 + port, lang), this);
            group->setLayout(form);
            top->addWidget(group);
        } else {
            top->addLayout(form);
        }
    }
    top->addWidget(Buttons(this, lang, [this] { return TryAccept(); }));
}

bool CDlgNetParams::TryAccept() {
    RSetupValues v;
    for (int port = 0; port < (m_twoPort ? 2 : 1); ++port) {
        RModulePort& p = port == 0 ? v.main : v.second;
        uint32_t* out[3] = {&p.ip, &p.mask, &p.gateway};
        for (int i = 0; i < 3; ++i) {
            // Masks and gateways are taken as entered, but they must be addresses at all.
            if (!Parse(m_fields[port][i], *out[i]) || (i == 0 && !ModuleIpValid(p.ip))) {
                m_fields[port][i]->setFocus();
                if (onInvalid) onInvalid();
                return false;
            }
        }
    }
    if (!m_twoPort) v.second = m_values.second;
    m_values = v;
    return true;
}

CDlgPassportAddress::CDlgPassportAddress(int lang, QWidget* parent) : QDialog(parent) {
    setWindowTitle(T(1016, lang));
    auto* top = new QVBoxLayout(this);
    top->addWidget(new QLabel(T(1020, lang), this));
    auto* form = new QFormLayout;
    m_field = MakeAddressField(this, 0);
    m_field->clear();
    form->addRow(T(1017, lang), m_field);
    top->addLayout(form);
    top->addWidget(Buttons(this, lang, [this] { return TryAccept(); }));
}

bool CDlgPassportAddress::TryAccept() {
    uint32_t ip = 0;
    if (!Parse(m_field, ip) || !ModuleIpValid(ip)) {
        if (onInvalid) onInvalid();
        return false;
    }
    m_ip = ip;
    return true;
}
