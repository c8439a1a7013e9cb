#include "CSerialView.h"

#include "model/CPnPSerial.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CSerialView::CSerialView(CPnPSerial* element, RDeviceContext& ctx, QWidget* parent)
    : CPageView(element, ctx, parent), m_page(*element, ctx) {
    auto* layout = new QVBoxLayout(this);
    auto* frame = new QGroupBox("Serial number", this);
    auto* row = new QHBoxLayout(frame);
    m_field = new QLineEdit(frame);
    m_field->setObjectName("serialNumber");
    m_field->setReadOnly(true);
    m_read = new QPushButton("Read", frame);
    m_read->setObjectName("serialRead");
    row->addWidget(m_field, 1);
    row->addWidget(m_read);
    layout->addWidget(frame);
    layout->addStretch(1);
    m_page.onText = [this] { m_field->setText(QString::fromStdString(m_page.Text())); };
    connect(m_read, &QPushButton::clicked, this, [this] { m_page.Read(); });
}

void CSerialView::SetIdle(bool idle) { m_read->setEnabled(idle); }
