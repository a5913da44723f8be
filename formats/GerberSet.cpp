// SPDX-License-Identifier: GPL-3.0-or-later
#include "formats/GerberSet.h"

#include "formats/Gerber.h"

#include <cstdio>
#include <map>

namespace rastrace {

namespace {

std::string Stem(std::string_view path) {
    std::string stem(path);
    const size_t slash = stem.find_last_of('/');
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
    return stem;
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Millimetres with six decimals, as the drill files and the job write them.
std::string Mm(int64_t nm) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", nm < 0 ? "-" : "", static_cast<long long>((nm < 0 ? -nm : nm) / 1'000'000),
                  static_cast<long long>((nm < 0 ? -nm : nm) % 1'000'000));
    return text;
}

std::string Header(std::string_view function, std::string_view version) {
    std::string out = "%TF.GenerationSoftware,Rastrace,Rastrace,";
    out += version;
    out += "*%\n%TF.SameCoordinates,Original*%\n%TF.FileFunction,";
    out += function;
    out += "*%\n%TF.FilePolarity,Positive*%\n%FSLAX46Y46*%\n%MOMM*%\n%LPD*%\nG01*\n";
    return out;
}

std::string_view FunctionOf(GerberSetFile which) {
    switch (which) {
        case GerberSetFile::FrontCopper: return "Copper,L1,Top";
        case GerberSetFile::BackCopper: return "Copper,L2,Bot";
        case GerberSetFile::Edge: return "Profile,NP";
        case GerberSetFile::PlatedDrill: return "Plated,1,2,PTH";
        case GerberSetFile::UnplatedDrill: return "NonPlated,1,2,NPTH";
        case GerberSetFile::Job: break;
    }
    return "";
}

// The board's outline, the scan's rectangle where none was found.
std::vector<BoardPoint> Outline(const BoardModel& model) {
    if (!model.edge.empty()) return model.edge;
    return {{0, 0}, {model.widthNm, 0}, {model.widthNm, model.heightNm}, {0, model.heightNm}};
}

void Flush(std::string& out, const std::function<void(std::string_view)>& sink, bool always) {
    if (always || out.size() >= (size_t{1} << 20)) {
        if (!out.empty()) sink(out);
        out.clear();
    }
}

void WriteCopper(const BoardModel& model, BoardLayer layer, std::string_view function, std::string_view version,
                 const std::function<void(std::string_view)>& sink) {
    std::string out = Header(function, version);
    const int64_t height = model.heightNm;
    for (const BoardRegion& region : model.regions) {
        if (region.layer != layer || region.contour.empty()) continue;
        out += "%TO.N,";
        out += region.net >= 1 && static_cast<size_t>(region.net) <= model.nets.size()
                   ? model.nets[static_cast<size_t>(region.net - 1)]
                   : std::string();
        out += "*%\n";
        AppendGerberContour(out, region.contour.size(), [&region, height](size_t i) {
            return std::pair<int64_t, int64_t>{region.contour[i].x, height - region.contour[i].y};
        });
        out += "%TD*%\n";
        Flush(out, sink, false);
    }
    out += GerberTrailer();
    Flush(out, sink, true);
}

void WriteEdge(const BoardModel& model, std::string_view version, const std::function<void(std::string_view)>& sink) {
    std::string out = Header("Profile,NP", version);
    out += "%ADD10C,0.100000*%\nD10*\n";
    const std::vector<BoardPoint> outline = Outline(model);
    char* p = nullptr;
    for (size_t i = 0; i <= outline.size(); ++i) {
        const BoardPoint& q = outline[i % outline.size()];
        const size_t start = out.size();
        out.resize(start + 64);
        p = out.data() + start;
        *p++ = 'X';
        p = AppendDecimal(p, q.x);
        *p++ = 'Y';
        p = AppendDecimal(p, model.heightNm - q.y);
        for (char c : std::string_view(i == 0 ? "D02*\n" : "D01*\n")) *p++ = c;
        out.resize(static_cast<size_t>(p - out.data()));
    }
    out += GerberTrailer();
    sink(out);
}

void WriteDrill(const BoardModel& model, bool plated, std::string_view version,
                const std::function<void(std::string_view)>& sink) {
    std::string out = "M48\n; #@! TF.GenerationSoftware,Rastrace,Rastrace,";
    out += version;
    out += "\n; #@! TF.SameCoordinates,Original\n; #@! TF.FileFunction,";
    out += plated ? "Plated,1,2,PTH" : "NonPlated,1,2,NPTH";
    out += "\nFMAT,2\nMETRIC\n";
    std::map<int64_t, int> tools;  // drill -> tool number, smallest first
    for (const BoardHole& h : model.holes) {
        if (h.plated == plated) tools.emplace(h.drillNm, 0);
    }
    int number = 0;
    for (auto& [drill, tool] : tools) {
        tool = ++number;
        out += "; #@! TA.AperFunction,";
        out += plated ? "Plated,PTH,ViaDrill" : "NonPlated,NPTH,ComponentDrill";
        out += "\nT" + std::to_string(tool) + "C" + Mm(drill).substr(0, Mm(drill).size() - 3) + "\n";
    }
    out += "%\nG90\nG05\n";
    for (const auto& [drill, tool] : tools) {
        out += "T" + std::to_string(tool) + "\n";
        for (const BoardHole& h : model.holes) {
            if (h.plated != plated || h.drillNm != drill) continue;
            out += "X" + Mm(h.centre.x) + "Y" + Mm(model.heightNm - h.centre.y) + "\n";
        }
        Flush(out, sink, false);
    }
    out += "M30\n";
    Flush(out, sink, true);
}

std::string JsonText(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void WriteJob(const BoardModel& model, const GerberSetNames& names, std::string_view version,
              const std::function<void(std::string_view)>& sink) {
    std::string out = "{\n  \"Header\": {\n    \"GenerationSoftware\": {\n      \"Vendor\": \"Rastrace\",\n"
                      "      \"Application\": \"Rastrace\",\n      \"Version\": " +
                      JsonText(version) + "\n    }\n  },\n";
    out += "  \"GeneralSpecs\": {\n    \"ProjectId\": {\n      \"Name\": " + JsonText(FileName(Stem(names.job))) +
           "\n    },\n    \"Size\": {\n      \"X\": " + Mm(model.widthNm) + ",\n      \"Y\": " + Mm(model.heightNm) +
           "\n    },\n    \"LayerNumber\": 2,\n    \"BoardThickness\": 1.6\n  },\n  \"FilesAttributes\": [\n";
    const std::pair<const std::string*, GerberSetFile> files[] = {
        {&names.frontCopper, GerberSetFile::FrontCopper}, {&names.backCopper, GerberSetFile::BackCopper},
        {&names.edge, GerberSetFile::Edge}, {&names.platedDrill, GerberSetFile::PlatedDrill},
        {&names.unplatedDrill, GerberSetFile::UnplatedDrill}};
    for (size_t i = 0; i < std::size(files); ++i) {
        out += "    {\n      \"Path\": " + JsonText(FileName(*files[i].first)) + ",\n      \"FileFunction\": " +
               JsonText(FunctionOf(files[i].second)) + ",\n      \"FilePolarity\": \"Positive\"\n    }";
        out += i + 1 < std::size(files) ? ",\n" : "\n";
    }
    out += "  ]\n}\n";
    sink(out);
}

}  // namespace

GerberSetNames GerberSetNamesFor(std::string_view jobPath) {
    const std::string stem = Stem(jobPath);
    return {std::string(jobPath), stem + "-F_Cu.gbr", stem + "-B_Cu.gbr", stem + "-Edge_Cuts.gbr",
            stem + "-PTH.drl", stem + "-NPTH.drl"};
}

void WriteGerberSetFile(const BoardModel& model, GerberSetFile which, const GerberSetNames& names,
                        std::string_view generatorVersion, const std::function<void(std::string_view)>& sink) {
    switch (which) {
        case GerberSetFile::FrontCopper:
            return WriteCopper(model, BoardLayer::Front, FunctionOf(which), generatorVersion, sink);
        case GerberSetFile::BackCopper:
            return WriteCopper(model, BoardLayer::Back, FunctionOf(which), generatorVersion, sink);
        case GerberSetFile::Edge: return WriteEdge(model, generatorVersion, sink);
        case GerberSetFile::PlatedDrill: return WriteDrill(model, true, generatorVersion, sink);
        case GerberSetFile::UnplatedDrill: return WriteDrill(model, false, generatorVersion, sink);
        case GerberSetFile::Job: return WriteJob(model, names, generatorVersion, sink);
    }
}

}  // namespace rastrace
