// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON object of --json: one per command, on stdout, in place of its lines.
#include "cli/cli.h"
#include "cli/json.h"

namespace vokta::cli {
namespace {

void WriteFigures(JsonWriter& json, const OperationFigures& figures)
{
    json.BeginObject()
        .Key("read").Number(figures.sectorsRead)
        .Key("ignored").Number(figures.sectorsIgnored)
        .Key("recovered").Number(figures.sectorsRecovered)
        .Key("heldBefore").Number(figures.sectorsHeldBefore)
        .Key("written").Number(figures.sectorsWritten)
        .Key("verified").Number(figures.sectorsVerified)
        .Key("firstDifferingCylinder");
    if (figures.firstDifferingCylinder)
        json.Number(*figures.firstDifferingCylinder);
    else
        json.Null();
    json.EndObject();
}

void WriteStrings(JsonWriter& json, const std::vector<std::string>& texts)
{
    json.BeginArray();
    for (const std::string& text : texts)
        json.String(text);
    json.EndArray();
}

}  // namespace

void Context::Print(const std::string& line)
{
    report.lines.push_back(line);
    if (!options.json)
        std::fprintf(out, "%s\n", line.c_str());
}

void PrintJson(const Context& context, std::string_view command, int status)
{
    JsonWriter json;
    json.BeginObject().Key("command").String(command).Key("result").String(ExitRowOf(status).word);
    if (context.report.resultText)
        json.Key("text").String(*context.report.resultText);
    json.Key("exit").Number(status);
    json.Key("messages").BeginArray();
    for (const ShownMessage& message : context.prompter.shown())
        json.BeginObject()
            .Key("caption").String(message.caption)
            .Key("text").String(message.text)
            .Key("answer").String(AnswerName(message.answer))
            .EndObject();
    json.EndArray();
    if (const std::optional<OperationOutcome>& outcome = context.report.outcome) {
        json.Key("lost");
        WriteStrings(json, outcome->lost);
        json.Key("figures");
        WriteFigures(json, outcome->figures);
    }
    for (const auto& [name, value] : context.report.fields)
        json.Key(name).Raw(value);
    json.Key("lines");
    WriteStrings(json, context.report.lines);
    json.EndObject();
    std::fprintf(context.out, "%s\n", json.text().c_str());
}

}  // namespace vokta::cli
