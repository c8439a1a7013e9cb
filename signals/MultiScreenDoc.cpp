#include "signals/MultiScreenDoc.h"

#include "app/ConfigStore.h"
#include "app/Strings.h"
#include "pictures/PictureConvert.h"
#include "signals/ByteStream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace {
constexpr uint32_t kTransparent = 0xFF000000u;
constexpr const char* kPrefs = "PnP_Preferences";

// Halvings of a display's background: scale 0 has no background, below 1 reads as 1.
int Halvings(int32_t scale) { return std::clamp(scale - 1, 0, 14); }

std::unique_ptr<CScreenElement> Copy(const CPnPMultiScreenElement& e, bool visible,
                                     std::map<std::string, CPicture>& loaded) {
    auto c = std::make_unique<CScreenElement>();
    c->name = e.name;
    c->id = e.id;
    c->parent = e.parent;
    c->group = e.group;
    c->style = e.style;
    c->objectIndex = e.objectIndex;
    c->parentArea = {e.parentArea[0], e.parentArea[1], e.parentArea[2], e.parentArea[3]};
    c->hasParentArea = e.hasParentArea;
    c->isWindow = e.IsWindow();
    c->type = e.type;
    c->area = {e.area[0], e.area[1], e.area[2], e.area[3]};
    c->areaStepX = e.areaStepX;
    c->areaStepY = e.areaStepY;
    c->minWidth = e.MinW();
    c->maxWidth = e.MaxW();
    c->minHeight = e.MinH();
    c->maxHeight = e.MaxH();
    c->stepWidth = e.StepW();
    c->stepHeight = e.StepH();
    c->isVolume = e.type == kMsVolume;
    c->overlapAllowed = e.overlap;
    c->vSize = e.vSize;
    c->visible = visible;
    c->x = e.defaultX;
    c->y = e.defaultY;
    c->width = e.InitialWidth();
    c->height = e.InitialHeight();
    if (!e.fileName.empty()) {
        // One decode per file for every display that shows the element.
        auto it = loaded.find(e.fileName);
        if (it == loaded.end()) {
            CPicture p;
            if (p.Load(e.fileName, true, CPicture::kLoadNone, 0, 0) != CPicture::kLoadOk) p.Clear();
            it = loaded.emplace(e.fileName, std::move(p)).first;
        }
        c->picture = it->second;
    }
    if (e.type == kMsLabel) {
        c->isLabel = true;
        c->text = c->defaultText = e.text;
        c->anchorX = e.x;
        c->anchorY = e.y;
        c->align = e.align;
        c->colour = c->defaultColour = e.colour;
        c->font = c->defaultFont = e.font;
        CPicture bg;
        if (!e.background.empty() && e.width > 0 && e.height > 0 &&
            bg.Load(e.background, true, CPicture::kLoadResize, e.width, e.height) == CPicture::kLoadOk &&
            bg.Width() == e.width && bg.Height() == e.height) {
            c->picture = std::move(bg);
        } else {
            c->picture.Create(e.width, e.height);
            c->picture.Fill(kTransparent);
        }
    }
    if (e.type == kMsVolume) {
        c->pictureHorizontal = e.pictureHorizontal;
        c->pictureVertical = e.pictureVertical;
    }
    return c;
}

// The background picture a display starts with: the item's file decoded and doubled back up,
// else opaque black.
CPicture BackgroundFromItem(const CPnPMultiScreen& m, const CPnPMultiScreenDisplay& d) {
    const int h = Halvings(d.scale);
    const int pw = m.width >> h, ph = m.height >> h;
    CPicture pic;
    const CPnPItem* item = d.item >= 0 && size_t(d.item) < m.items.size() ? m.items[size_t(d.item)].get() : nullptr;
    if (item && !item->fileName.empty() && d.format <= 6 && pw > 0 && ph > 0) {
        std::vector<uint8_t> bytes(DeviceBufferSize(d.format, pw, ph));
        FILE* f = std::fopen(item->fileName.c_str(), "rb");
        bool ok = false;
        if (f) {
            ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
            std::fclose(f);
        }
        if (ok && pic.Create(pw, ph) && DeviceToPicture(pic, pw, bytes.data(), bytes.size(), d.Hdtv(), d.format)) {
            for (int i = 0; i < h; ++i) pic.UpscaleByTwo();
            if (pic.Width() == m.width && pic.Height() == m.height) return pic;
            // Odd display sizes: the doubled picture is cut or padded to the display.
            CPicture full(m.width, m.height);
            full.CopyRect(pic, 0, 0, 0, 0, pic.Width(), pic.Height());
            return full;
        }
    }
    pic.Create(m.width, m.height);  // opaque black
    return pic;
}

bool HasBit(uint32_t mask, int bit) { return bit < 32 && (mask >> bit) & 1u; }

int64_t Step(int32_t s) { return s <= 0 ? 1 : s; }  // a step of 0 in a model would divide by zero

// Nearest integer, halves up: floor(a / b + 0.5).
int64_t RoundDiv(int64_t a, int64_t b) {
    if (b == 0) return 0;
    return int64_t(std::floor(double(a) / double(b) + 0.5));
}

const CScreenElement* FindVisible(const CMultiScreen& doc, int32_t id, int& display) {
    for (size_t d = 0; d < doc.displays.size(); ++d) {
        for (const auto& layer : doc.displays[d]->layers) {
            for (const auto& el : layer->elements) {
                if (el->id != id) continue;
                if (el->visible) {
                    display = int(d) < doc.realDisplays ? int(d) : 0;
                    return el.get();
                }
                break;  // only the first element of an id in each layer counts
            }
        }
    }
    return nullptr;
}

// The meter picture of a volume at a size, loaded once per size.
const CPicture* MeterPicture(CMultiScreen& doc, const std::string& file, int w, int h) {
    if (file.empty() || w <= 0 || h <= 0 || w > CPnPMultiScreen::kMaxSide || h > CPnPMultiScreen::kMaxSide)
        return nullptr;
    auto key = std::make_tuple(file, w, h);
    auto it = doc.pictureCache.find(key);
    if (it == doc.pictureCache.end()) {
        CPicture p;
        if (p.Load(file, true, CPicture::kLoadResize, w, h) != CPicture::kLoadOk) p.Clear();
        if (doc.pictureCache.size() > 256) doc.pictureCache.clear();  // an editor session resizing meters
        it = doc.pictureCache.emplace(key, std::move(p)).first;
    }
    return it->second.Empty() ? nullptr : &it->second;
}

void DrawVolume(CMultiScreen& doc, CPicture& dst, const CScreenElement& v, int x, int y, int w, int h) {
    const std::string& file = w >= h ? v.pictureHorizontal : v.pictureVertical;
    if (const CPicture* p = MeterPicture(doc, file, w, h)) MsDrawOver(dst, *p, x, y, w, h);
}

const CScreenDisplay* ObjectDisplay(const CMultiScreen& doc, int32_t objectIndex) {
    for (const auto& d : doc.displays)
        if (d->objectDisplay && d->objectIndex == objectIndex) return d.get();
    return nullptr;
}

// An object display's picture: transparent, with the object's visible elements drawn.
void RenderObjectPicture(CMultiScreen& doc, CScreenDisplay& od) {
    od.picture.Fill(kTransparent);
    for (const auto& layer : od.layers)
        for (const auto& el : layer->elements) {
            if (!el->visible) continue;
            if (el->isLabel) {
                if (!el->renderedValid) MultiScreenRenderLabel(*el);
                MsDrawOver(od.picture, el->rendered, el->x, el->y, el->width, el->height);
            } else if (el->isVolume) {
                DrawVolume(doc, od.picture, *el, el->x, el->y, el->width, el->height);
            } else if (!el->picture.Empty()) {
                MsDrawOver(od.picture, el->picture, el->x, el->y, el->width, el->height);
            }
        }
}

void DrawLayerElementPictures(CMultiScreen& doc, CPicture& canvas, const CScreenLayer& layer, int dy) {
    for (const auto& el : layer.elements) {
        // A label's picture is its text's backdrop: it goes with the text, on the cover.
        if (!el->visible || el->isLabel) continue;
        if (el->objectIndex >= 0) {
            for (auto& d : doc.displays)
                if (d->objectDisplay && d->objectIndex == el->objectIndex) {
                    RenderObjectPicture(doc, *d);
                    MsDrawOver(canvas, d->picture, el->x, el->y + dy, el->width, el->height);
                    break;
                }
        } else if (!el->picture.Empty()) {
            MsDrawOver(canvas, el->picture, el->x, el->y + dy, el->width, el->height);
        }
    }
}

// Labels, meters and the meters of objects of display d's layers (not the background ones).
void DrawCoverPart(CMultiScreen& doc, CPicture& canvas, const CScreenDisplay& disp, int dy, bool firstLayerOnly) {
    bool seen = false;
    for (const auto& layer : disp.layers) {
        if (layer->background) continue;
        if (firstLayerOnly && seen) break;
        seen = true;
        for (const auto& el : layer->elements) {
            if (!el->visible) continue;
            if (el->isLabel) {
                if (!el->renderedValid) MultiScreenRenderLabel(*el);
                MsDrawOver(canvas, el->rendered, el->x, el->y + dy, el->width, el->height);
            } else if (el->isVolume) {
                DrawVolume(doc, canvas, *el, el->x, el->y + dy, el->width, el->height);
            } else if (el->objectIndex >= 0) {
                const CScreenDisplay* od = ObjectDisplay(doc, el->objectIndex);
                if (!od || od->picture.Empty() || od->layers.empty()) continue;
                const double sx = double(el->width) / od->picture.Width();
                const double sy = double(el->height) / od->picture.Height();
                for (const auto& v : od->layers[0]->elements) {
                    if (!v->visible || !v->isVolume) continue;
                    const int vx = int(std::lround(v->x * sx)), vy = int(std::lround(v->y * sy));
                    const int vw = int(std::lround(v->width * sx)), vh = int(std::lround(v->height * sy));
                    DrawVolume(doc, canvas, *v, el->x + vx, el->y + dy + vy, vw, vh);
                }
            }
        }
    }
}

// Writes a little-endian 32-bit value.
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

struct RecordIn {
    int32_t id, x, y, width, height, visible;
    bool hasFont;
    std::string face;
    int points;
    bool bold;
    uint32_t colour;
};

void ApplyRecord(CScreenElement& el, const RecordIn& r) {
    el.x = r.x;
    el.y = r.y;
    el.width = r.width;
    el.height = r.height;
    el.visible = r.visible != 0;
    if (el.isLabel && r.hasFont) {
        el.colour = r.colour;
        el.font = PointFont(r.face, r.points, r.bold ? 700 : 400);
        el.renderedValid = false;
    }
}

// The first element of the layers with the id (background layers included).
CScreenElement* FindById(CScreenDisplay& d, int32_t id) {
    for (auto& layer : d.layers)
        for (auto& el : layer->elements)
            if (el->id == id) return el.get();
    return nullptr;
}

// Reads the file in bounded pieces; every count is checked against what is left of it.
class CMssReader {
public:
    explicit CMssReader(const std::string& path) : m_f(std::fopen(path.c_str(), "rb")) {
        if (m_f && std::fseek(m_f, 0, SEEK_END) == 0) {
            m_size = std::ftell(m_f);
            std::fseek(m_f, 0, SEEK_SET);
        }
    }
    ~CMssReader() {
        if (m_f) std::fclose(m_f);
    }
    bool Open() const { return m_f && m_size >= 0; }
    int64_t Left() const { return m_size - m_pos; }
    bool Read(void* dst, size_t n) {
        if (!m_ok || int64_t(n) > Left() || std::fread(dst, 1, n, m_f) != n) return m_ok = false;
        m_pos += int64_t(n);
        return true;
    }
    bool Skip(int64_t n) {
        if (!m_ok || n < 0 || n > Left() || std::fseek(m_f, long(m_pos + n), SEEK_SET) != 0) return m_ok = false;
        m_pos += n;
        return true;
    }

private:
    FILE* m_f;
    int64_t m_size = -1;
    int64_t m_pos = 0;
    bool m_ok = true;
};

bool ReadRecords(CMssReader& r, int32_t count, std::vector<RecordIn>& out) {
    if (count < 0 || int64_t(count) * kMscRecordBytes > r.Left()) return false;
    out.reserve(size_t(count));
    uint8_t rec[kMscRecordBytes];
    for (int32_t i = 0; i < count; ++i) {
        if (!r.Read(rec, sizeof rec)) return false;
        RecordIn x{};
        x.id = int32_t(Get32(rec));
        x.x = int32_t(Get32(rec + 4));
        x.y = int32_t(Get32(rec + 8));
        x.width = int32_t(Get32(rec + 12));
        x.height = int32_t(Get32(rec + 16));
        x.visible = int32_t(Get32(rec + 20));
        x.hasFont = rec[24] == 1;
        x.face.assign(reinterpret_cast<const char*>(rec + 25), strnlen(reinterpret_cast<const char*>(rec + 25), 32));
        x.points = rec[57];
        x.bold = rec[58] != 0;
        x.colour = Get32(rec + 59);
        // Sizes drive the pictures drawn for an element; none may be larger than a display.
        if (x.width < 0 || x.height < 0 || x.width > CPnPMultiScreen::kMaxSide || x.height > CPnPMultiScreen::kMaxSide)
            return false;
        out.push_back(std::move(x));
    }
    return true;
}

void PutRecord(CByteSink& sink, const CScreenElement& el) {
    uint8_t rec[kMscRecordBytes] = {};
    Put32(rec, uint32_t(el.id));
    Put32(rec + 4, uint32_t(el.x));
    Put32(rec + 8, uint32_t(el.y));
    Put32(rec + 12, uint32_t(el.width));
    Put32(rec + 16, uint32_t(el.height));
    Put32(rec + 20, el.visible ? 1 : 0);
    if (el.isLabel) {
        rec[24] = 1;
        std::memcpy(rec + 25, el.font.faceName, 32);
        rec[57] = uint8_t(std::clamp(FontPoints(el.font), 0, 255));
        rec[58] = el.font.weight > 699 ? 1 : 0;
        Put32(rec + 59, el.colour);
    }
    sink.Put(rec, sizeof rec);
}

size_t FirstOrdinaryLayer(const CScreenDisplay& d) {
    size_t i = 0;
    while (i < d.layers.size() && d.layers[i]->background) ++i;
    return i;
}
}  // namespace

void MsDrawOver(CPicture& dst, const CPicture& src, int x, int y, int w, int h) {
    if (src.Empty() || dst.Empty() || w <= 0 || h <= 0) return;
    const int x0 = std::max(0, x), y0 = std::max(0, y);
    const int x1 = int(std::min<int64_t>(dst.Width(), int64_t(x) + w));
    const int y1 = int(std::min<int64_t>(dst.Height(), int64_t(y) + h));
    if (x0 >= x1 || y0 >= y1) return;
    const bool same = w == src.Width() && h == src.Height();
    std::vector<int> col(size_t(x1 - x0));
    for (int i = x0; i < x1; ++i)
        col[size_t(i - x0)] = same ? i - x : int(int64_t(i - x) * src.Width() / w);
    for (int j = y0; j < y1; ++j) {
        const int sy = same ? j - y : int(int64_t(j - y) * src.Height() / h);
        const uint32_t* s = src.Row(sy);
        uint32_t* d = dst.Row(j);
        for (int i = x0; i < x1; ++i) {
            const uint32_t sp = s[col[size_t(i - x0)]];
            const uint32_t as = 255 - (sp >> 24);
            if (as == 0) continue;
            uint32_t& dp = d[i];
            const uint32_t ad = 255 - (dp >> 24);
            if (as == 255 || ad == 0) {
                dp = sp;
                continue;
            }
            // Straight-alpha "over": the destination shows through by what the source leaves.
            const uint32_t rest = ad * (255 - as) / 255;
            const uint32_t ao = as + rest;
            uint32_t out = (255 - ao) << 24;
            for (int sh = 0; sh <= 16; sh += 8) {
                const uint32_t cs = (sp >> sh) & 0xFF, cd = (dp >> sh) & 0xFF;
                out |= ((cs * as + cd * rest) / ao) << sh;
            }
            dp = out;
        }
    }
}

void MultiScreenBuild(CMultiScreen& doc, const CPnPMultiScreen& m, bool fromFile) {
    doc = CMultiScreen();
    doc.width = m.width;
    doc.height = m.height;
    if (!m.error.empty()) return;
    std::map<std::string, CPicture> loaded;
    for (size_t i = 0; i < m.displayList.size(); ++i) {
        const CPnPMultiScreenDisplay& md = *m.displayList[i];
        auto d = std::make_unique<CScreenDisplay>();
        d->name = md.name;
        d->tolLeft = md.tolLeft;
        d->tolTop = md.tolTop;
        d->tolRight = md.tolRight;
        d->tolBottom = md.tolBottom;
        if (md.scale != 0) {
            auto layer = std::make_unique<CScreenLayer>();
            layer->background = true;
            layer->name = LoadString(21718);
            layer->rect = {0, 0, m.width, m.height};
            auto bg = std::make_unique<CScreenElement>();
            bg->name = layer->name;
            bg->width = bg->minWidth = bg->maxWidth = m.width;
            bg->height = bg->minHeight = bg->maxHeight = m.height;
            bg->area = {0, 0, m.width, m.height};
            bg->visible = true;
            bg->picture = BackgroundFromItem(m, md);
            layer->elements.push_back(std::move(bg));
            d->layers.push_back(std::move(layer));
        }
        for (const auto& ml : m.layers) {
            auto layer = std::make_unique<CScreenLayer>();
            layer->name = ml->name;
            layer->rect = {0, 0, m.width, m.height};
            for (const auto& e : ml->elements) {
                if (!HasBit(e->displayAffinity, int(i))) continue;
                const bool visible = !fromFile && e->defaultDisplay == int32_t(i) + 1;
                layer->elements.push_back(Copy(*e, visible, loaded));
                if (e->type == kMsLabel) layer->hasLabels = true;
            }
            d->layers.push_back(std::move(layer));
        }
        doc.displays.push_back(std::move(d));
    }
    for (size_t k = 0; k < m.objects.size(); ++k) {
        const CPnPMultiScreenObject& o = *m.objects[k];
        auto d = std::make_unique<CScreenDisplay>();
        d->name = o.name;
        d->objectDisplay = true;
        d->objectIndex = int32_t(k);
        d->picture.Create(o.width, o.height);
        d->picture.Fill(kTransparent);
        auto layer = std::make_unique<CScreenLayer>();
        layer->name = o.name;
        layer->rect = {0, 0, o.width, o.height};
        for (const auto& e : o.elements) {
            layer->elements.push_back(Copy(*e, !fromFile, loaded));
            if (e->type == kMsLabel) layer->hasLabels = true;
        }
        d->layers.push_back(std::move(layer));
        doc.displays.push_back(std::move(d));
    }
    doc.realDisplays = int32_t(m.displayList.size());
    doc.built = true;
    doc.valid = true;
}

std::string MsFontKey(const std::string& model, int32_t id) {
    return "model_" + model + "_element_" + std::to_string(id) + "_struct";
}
std::string MsColourKey(const std::string& model, int32_t id) {
    return "model_" + model + "_element_" + std::to_string(id) + "_int_0";
}
std::string MsTextKey(const std::string& model, int32_t id) {
    return "model_" + model + "_element_" + std::to_string(id) + "_string_0";
}

void MultiScreenApplyPreferences(CMultiScreen& doc, const CConfigStore& store, const std::string& model,
                                 bool fontAndColour) {
    for (auto& d : doc.displays)
        for (auto& layer : d->layers) {
            if (layer->background) continue;
            for (auto& el : layer->elements) {
                if (!el->isLabel || !el->visible) continue;
                std::string value;
                if (fontAndColour) {
                    uint8_t raw[CFontRecord::kSize];
                    if (store.ReadStruct(kPrefs, MsFontKey(model, el->id), raw, sizeof raw))
                        el->font = CFontRecord::FromBytes(raw);
                    if (store.Lookup(kPrefs, MsColourKey(model, el->id), value))
                        el->colour = uint32_t(store.ReadInt(kPrefs, MsColourKey(model, el->id), 0));
                }
                if (store.Lookup(kPrefs, MsTextKey(model, el->id), value))
                    el->text = store.ReadString(kPrefs, MsTextKey(model, el->id), "");
                el->renderedValid = false;
            }
        }
}

void MultiScreenStoreLabel(const CScreenElement& label, CConfigStore& store, const std::string& model) {
    uint8_t raw[CFontRecord::kSize];
    label.font.ToBytes(raw);
    store.WriteStruct(kPrefs, MsFontKey(model, label.id), raw, sizeof raw);
    store.WriteInt(kPrefs, MsColourKey(model, label.id), int(label.colour));
    store.WriteString(kPrefs, MsTextKey(model, label.id), label.text);
}

int MultiScreenLoad(CMultiScreen& doc, const CPnPMultiScreen& m, const std::string& path) {
    MultiScreenBuild(doc, m, true);
    CMssReader r(path);
    if (!r.Open()) return 1;
    uint8_t head[kMscHeaderBytes];
    if (!r.Read(head, sizeof head)) return 2;
    if (Get32(head) != kMscMagic || int32_t(Get32(head + 4)) != m.width || int32_t(Get32(head + 8)) != m.height)
        return 2;
    if (!doc.built) return 2;  // a model whose layout we refused has nothing to load into
    const int64_t pixelBytes = int64_t(m.width) * m.height * 4;
    const int64_t blockBytes = kMscBackgroundHeaderBytes + pixelBytes;

    // Everything is read and checked before the document takes any of it.
    struct DisplayIn {
        bool hasBackground = false;
        std::string name;
        std::vector<uint32_t> pixels;
        std::vector<RecordIn> records;
    } in[2];
    for (int d = 0; d < 2; ++d) {
        const int32_t flag = int32_t(Get32(head + 12 + 12 * d));
        const int32_t extra = int32_t(Get32(head + 16 + 12 * d));
        const int32_t count = int32_t(Get32(head + 20 + 12 * d));
        if (flag != 0 && flag != 1) return 2;
        if (extra < 0) return 2;
        const bool takeBackground = d < doc.realDisplays && flag == 1 && !doc.displays[size_t(d)]->layers.empty() &&
                                    doc.displays[size_t(d)]->layers[0]->background;
        if (flag == 1) {
            if (takeBackground) {
                uint8_t bh[kMscBackgroundHeaderBytes];
                if (pixelBytes > r.Left() || !r.Read(bh, sizeof bh)) return 2;
                in[d].hasBackground = true;
                in[d].name.assign(reinterpret_cast<const char*>(bh), strnlen(reinterpret_cast<const char*>(bh), 128));
                in[d].pixels.resize(size_t(m.width) * size_t(m.height));
                if (!r.Read(in[d].pixels.data(), size_t(pixelBytes))) return 2;
                for (auto& p : in[d].pixels) p = Get32(reinterpret_cast<const uint8_t*>(&p));
            } else if (!r.Skip(blockBytes)) {
                return 2;
            }
        }
        if (extra > 0 && (int64_t(extra) > r.Left() / blockBytes || !r.Skip(int64_t(extra) * blockBytes))) return 2;
        if (!ReadRecords(r, count, in[d].records)) return 2;
        if (d >= doc.realDisplays) in[d].records.clear();  // the model has no such display
    }
    std::vector<RecordIn> objectRecords;
    if (!ReadRecords(r, int32_t(Get32(head + 36)), objectRecords)) return 2;

    for (int d = 0; d < doc.realDisplays && d < 2; ++d) {
        CScreenDisplay& disp = *doc.displays[size_t(d)];
        if (in[d].hasBackground) {
            CScreenElement& bg = *disp.layers[0]->elements[0];
            bg.name = in[d].name;
            bg.picture.Create(m.width, m.height);
            std::memcpy(bg.picture.Pixels(), in[d].pixels.data(), in[d].pixels.size() * 4);
        }
        for (const RecordIn& rec : in[d].records)
            if (CScreenElement* el = FindById(disp, rec.id)) ApplyRecord(*el, rec);
    }
    for (const RecordIn& rec : objectRecords)
        for (auto& disp : doc.displays) {
            if (!disp->objectDisplay || disp->layers.empty()) continue;
            CScreenElement* hit = nullptr;
            for (auto& el : disp->layers[0]->elements)
                if (el->id == rec.id) {
                    hit = el.get();
                    break;
                }
            if (hit) {
                ApplyRecord(*hit, rec);
                break;
            }
        }
    return 0;
}

int MultiScreenSave(const CMultiScreen& doc, const CPnPMultiScreen& m, const std::string& path) {
    CByteSink sink;
    uint8_t head[kMscHeaderBytes] = {};
    Put32(head, kMscMagic);
    Put32(head + 4, uint32_t(m.width));
    Put32(head + 8, uint32_t(m.height));
    CByteSink body;
    for (int d = 0; d < 2 && d < doc.realDisplays; ++d) {
        const CScreenDisplay& disp = *doc.displays[size_t(d)];
        const bool flagged = size_t(d) < m.displayList.size() && m.displayList[size_t(d)]->scale != 0;
        const size_t first = FirstOrdinaryLayer(disp);
        const bool hasBgLayer = first > 0;
        if (flagged) {
            uint8_t bh[kMscBackgroundHeaderBytes] = {};
            const CScreenElement* bg = hasBgLayer && !disp.layers[0]->elements.empty()
                                           ? disp.layers[0]->elements[0].get()
                                           : nullptr;
            if (bg) std::memcpy(bh, bg->name.data(), std::min<size_t>(bg->name.size(), 127));
            Put32(bh + 136, uint32_t(m.width));
            Put32(bh + 140, uint32_t(m.height));
            body.Put(bh, sizeof bh);
            // W x H pixels whatever size the picture has: cut or padded with opaque black.
            std::vector<uint8_t> row(size_t(m.width) * 4);
            for (int y = 0; y < m.height; ++y) {
                std::fill(row.begin(), row.end(), 0);
                if (bg && y < bg->picture.Height())
                    for (int x = 0; x < m.width && x < bg->picture.Width(); ++x) Put32(&row[size_t(x) * 4], bg->picture.At(x, y));
                body.Put(row.data(), row.size());
            }
        }
        int32_t count = 0;
        for (size_t l = hasBgLayer ? first : 0; l < disp.layers.size(); ++l)
            for (const auto& el : disp.layers[l]->elements) {
                PutRecord(body, *el);
                ++count;
            }
        Put32(head + 12 + 12 * d, flagged ? 1 : 0);
        Put32(head + 16 + 12 * d, 0);
        Put32(head + 20 + 12 * d, uint32_t(count));
    }
    int32_t objectCount = 0;
    for (const auto& disp : doc.displays) {
        if (!disp->objectDisplay || disp->layers.empty()) continue;
        for (const auto& el : disp->layers[0]->elements) {
            PutRecord(body, *el);
            ++objectCount;
        }
    }
    Put32(head + 36, uint32_t(objectCount));
    sink.Put(head, sizeof head);
    sink.Put(body.Bytes().data(), body.Bytes().size());
    return sink.WriteToFile(path) ? 0 : 3;
}

bool MultiScreenOverlap(const CMultiScreen& doc, RMsOverlap& found) {
    for (size_t d = 0; d < doc.displays.size(); ++d) {
        const auto& layers = doc.displays[d]->layers;
        for (size_t l = 0; l < layers.size(); ++l) {
            if (layers[l]->background) continue;
            const auto& els = layers[l]->elements;
            for (size_t a = 0; a < els.size(); ++a) {
                const CScreenElement& A = *els[a];
                if (!A.visible || A.overlapAllowed) continue;
                for (size_t b = a + 1; b < els.size(); ++b) {
                    const CScreenElement& B = *els[b];
                    if (!B.visible || B.overlapAllowed) continue;
                    const int64_t l0 = std::max<int64_t>(A.x, B.x), t0 = std::max<int64_t>(A.y, B.y);
                    const int64_t r0 = std::min<int64_t>(int64_t(A.x) + A.width, int64_t(B.x) + B.width);
                    const int64_t b0 = std::min<int64_t>(int64_t(A.y) + A.height, int64_t(B.y) + B.height);
                    if (l0 < r0 && t0 < b0) {
                        found = {int(d), int(l), int(a), int(b)};
                        return true;
                    }
                }
            }
        }
    }
    found = {};
    return false;
}

void MultiScreenRenderLabel(CScreenElement& label) {
    label.rendered = label.picture;
    if (!label.text.empty() && !label.rendered.Empty())
        DrawText(label.rendered, label.text, label.font, label.colour & 0x00FFFFFFu, label.anchorX, label.anchorY,
                 label.align);
    label.renderedValid = true;
}

bool MultiScreenBackgroundPicture(CMultiScreen& doc, const CPnPMultiScreen& m, int d, CPicture& out) {
    if (d < 0 || d >= doc.realDisplays || size_t(d) >= doc.displays.size()) return false;
    const CScreenDisplay& disp = *doc.displays[size_t(d)];
    out.Create(m.width, m.height);  // opaque black
    for (size_t l = 0; l < disp.layers.size() && disp.layers[l]->background; ++l)
        DrawLayerElementPictures(doc, out, *disp.layers[l], 0);
    for (const auto& layer : disp.layers)
        for (const auto& el : layer->elements) {
            if (!el->visible || !el->isWindow) continue;
            const int64_t w = int64_t(el->width) - disp.tolRight, h = int64_t(el->height) - disp.tolBottom;
            if (w <= 0 || h <= 0) continue;  // Fill takes a negative size as "everything"
            const int64_t x = int64_t(el->x) + disp.tolLeft, y = int64_t(el->y) + disp.tolTop;
            if (x >= m.width || y >= m.height || x + w <= 0 || y + h <= 0) continue;
            const int64_t cx = std::max<int64_t>(x, 0), cy = std::max<int64_t>(y, 0);
            out.Fill(kTransparent, 0, int(cx), int(cy), int(std::min<int64_t>(x + w, m.width) - cx),
                     int(std::min<int64_t>(y + h, m.height) - cy));
        }
    return true;
}

namespace {
bool Convert(const CPicture& pic, bool hdtv, int format, int saturation, size_t size, std::vector<uint8_t>& out,
             std::string& err, const char* what) {
    if (IsCompressedPictureFormat(format)) {
        ICompressedPictureCodec* codec = CompressedPictureCodec();
        if (!codec || !codec->Handles(format)) {
            err = std::string("The ") + what + " is in compressed picture format " + std::to_string(format) +
                  ", and this program has no encoder for it yet.";
            return false;
        }
    }
    std::vector<uint8_t> buf(std::max(size, DeviceBufferSize(format, pic.Width(), pic.Height())), 0);
    if (!PictureToDevice(pic, hdtv, format, saturation, buf.data(), buf.size(), 0)) {
        err = std::string("The ") + what + " could not be converted into device format " + std::to_string(format) + ".";
        return false;
    }
    buf.resize(size);
    out = std::move(buf);
    return true;
}
}  // namespace

bool MultiScreenBackgroundBytes(CMultiScreen& doc, const CPnPMultiScreen& m, int d, CPicture& halved,
                                std::vector<uint8_t>& out, std::string& err) {
    out.clear();
    const int64_t size = m.DisplayBackgroundSize(d);
    if (!MultiScreenBackgroundPicture(doc, m, d, halved)) {
        err = "No such display.";
        return false;
    }
    if (size <= 0) return true;
    const CPnPMultiScreenDisplay& md = *m.displayList[size_t(d)];
    for (int i = Halvings(md.scale); i > 0 && !halved.Empty(); --i) halved.DownscaleByTwo();
    return Convert(halved, md.Hdtv(), md.format, md.saturation, size_t(size), out, err, "background");
}

void MultiScreenCoverPicture(CMultiScreen& doc, const CPnPMultiScreen& m, CPicture& out) {
    const int n = std::max(doc.realDisplays, 0);
    out.Create(m.width, m.height * n);
    out.Fill(kTransparent);
    for (int i = 0; i < n; ++i) DrawCoverPart(doc, out, *doc.displays[size_t(i)], i * m.height, false);
}

bool MultiScreenCoverBytes(const CPicture& cover, const CPnPMultiScreen& m, std::vector<uint8_t>& out,
                           std::string& err) {
    out.clear();
    const int64_t size = m.CoverSize();
    if (size <= 0) return true;
    const bool hdtv = !m.displayList.empty() && m.displayList[0]->Hdtv();
    const int sat = m.displayList.empty() ? 100 : m.displayList[0]->saturation;
    if (IsCompressedPictureFormat(m.coverFormat)) {
        // One compressed frame per display, each of the fixed frame size.
        const size_t frame = size_t(size / std::max(m.displays, 1));
        for (int i = 0; i < m.displays; ++i) {
            CPicture part(m.width, m.height);
            part.CopyRect(cover, 0, 0, 0, i * m.height, m.width, m.height);
            std::vector<uint8_t> one;
            if (!Convert(part, hdtv, m.coverFormat, sat, frame, one, err, "cover")) return false;
            out.insert(out.end(), one.begin(), one.end());
        }
        return true;
    }
    return Convert(cover, hdtv, m.coverFormat, sat, size_t(size), out, err, "cover");
}

void MsStoreField(uint8_t* block, size_t size, RMsField field, uint32_t value) {
    const uint64_t p = uint64_t(field.ByteOffset()) * 8 + field.BitOffset();
    for (uint32_t i = 0; i < field.Size(); ++i) {
        const uint64_t q = p + i;
        if (q / 8 >= size) break;
        const bool bit = i < 32 && ((value >> i) & 1u);
        const uint8_t mask = uint8_t(1u << (q % 8));
        block[q / 8] = bit ? uint8_t(block[q / 8] | mask) : uint8_t(block[q / 8] & ~mask);
    }
}

namespace {
void EncodeElement(const CMultiScreen& doc, const CPnPMultiScreenElement& e, uint8_t* block, size_t size) {
    if (e.type == kMsLabel) return;
    int d = 0;
    const CScreenElement* c = FindVisible(doc, e.id, d);
    auto put = [&](int slot, int64_t v) { MsStoreField(block, size, e.Field(slot), uint32_t(v)); };
    if (!c) {
        put(kFieldPosX, 0);
        put(kFieldPosY, 0);
        return;
    }
    const int64_t sx = Step(e.areaStepX), sy = Step(e.areaStepY);
    int64_t posX = c->x / sx, posY = c->y / sy;
    switch (e.type) {
    case kMsVolume: {
        const int64_t sizeStep = Step(e.sizeStep);
        if (c->height < c->width) {
            const int64_t h = c->height;
            const int64_t chHeight = (h - h / 3) / 2;
            put(kFieldChHeight, chHeight);
            put(kFieldChDist, chHeight + (h / 3 >= 1 ? h / 3 - 1 : 0));
            put(kFieldScale, c->width / sizeStep - 1);
            put(kFieldType, d == 1 ? 2 : 0);
        } else {
            const int64_t w = c->width;
            posY = (int64_t(c->height) + c->y) / sy;
            const int64_t chWidth = (w - w / 3) / 2;
            put(kFieldChWidth, chWidth);
            put(kFieldChDist, chWidth + (w / 3 >= 1 ? w / 3 - 1 : 0));
            put(kFieldScale, c->height / sizeStep - 1);
            put(kFieldType, d == 1 ? 3 : 1);
        }
        break;
    }
    case kMsBox:
        if (d == 1) posX |= 0x80;
        break;
    case kMsWindow:
    case kMsObject: {
        int64_t scaleX = c->width > 0 ? RoundDiv(int64_t(e.scaleWidth) * 256, c->width) : 0;
        const int64_t scaleY = c->height > 0 ? RoundDiv(int64_t(e.scaleHeight) * 256, c->height) : 0;
        if (d == 1) scaleX |= 0x8000;
        put(kFieldScaleX, scaleX);
        put(kFieldScaleY, scaleY);
        break;
    }
    default: break;
    }
    put(kFieldPosX, posX);
    put(kFieldPosY, posY);
}
}  // namespace

std::vector<uint8_t> MultiScreenEncodeSettings(const CMultiScreen& doc, const CPnPMultiScreen& m) {
    std::vector<uint8_t> block(size_t(std::max(m.size, 0)), 0);
    for (const auto& o : m.objects)
        for (const auto& e : o->elements) EncodeElement(doc, *e, block.data(), block.size());
    for (const auto& l : m.layers)
        for (const auto& e : l->elements) EncodeElement(doc, *e, block.data(), block.size());
    return block;
}

CPicture MultiScreenPreview(CMultiScreen& doc, const CPnPMultiScreen& m) {
    CPicture pic;
    if (doc.realDisplays < 1 || doc.displays.empty()) return pic;
    const CScreenDisplay& disp = *doc.displays[0];
    pic.Create(m.width, m.height);
    size_t l = 0;
    for (; l < disp.layers.size() && disp.layers[l]->background; ++l) DrawLayerElementPictures(doc, pic, *disp.layers[l], 0);
    if (l < disp.layers.size()) {
        const CScreenLayer& layer = *disp.layers[l];
        // Windows and boxes have no picture of their own on the device: outlined so they show.
        for (const auto& el : layer.elements) {
            if (!el->visible || el->isLabel || el->isVolume || !el->picture.Empty()) continue;
            if (el->width <= 0 || el->height <= 0) continue;
            const uint32_t fill = el->isWindow ? 0x80305070u : 0x80706030u;
            CPicture box(el->width, el->height);
            box.Fill(fill);
            const int t = std::max(1, std::min(el->width, el->height) / 64 + 2);
            box.Fill(0x00E0E0E0u, 0, 0, 0, el->width, t);
            box.Fill(0x00E0E0E0u, 0, 0, el->height - t, el->width, t);
            box.Fill(0x00E0E0E0u, 0, 0, 0, t, el->height);
            box.Fill(0x00E0E0E0u, 0, el->width - t, 0, t, el->height);
            MsDrawOver(pic, box, el->x, el->y, el->width, el->height);
        }
        DrawLayerElementPictures(doc, pic, layer, 0);
        DrawCoverPart(doc, pic, disp, 0, true);
    }
    while (pic.Width() > 512) pic.DownscaleByTwo();
    return pic;
}

CPicture MultiScreenComposed(CMultiScreen& doc, const CPnPMultiScreen& m) {
    const int n = doc.realDisplays;
    CPicture out(m.width, m.height * std::max(n, 0));
    out.Fill(0x00404040u);  // where the video shows through
    CPicture cover;
    MultiScreenCoverPicture(doc, m, cover);
    for (int i = 0; i < n; ++i) {
        CPicture bg;
        if (m.DisplayBackgroundSize(i) > 0 && MultiScreenBackgroundPicture(doc, m, i, bg))
            MsDrawOver(out, bg, 0, i * m.height, m.width, m.height);
    }
    MsDrawOver(out, cover, 0, 0, cover.Width(), cover.Height());
    return out;
}
