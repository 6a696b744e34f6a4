#pragma once
// Shorthands for writing the page tables, and the tables of each group of pages.
#include <initializer_list>
#include <string>
#include <vector>

#include "params/pages.h"

namespace pages {

using Texts = std::vector<std::string>;

// "a" to "b" in whole steps.
Texts Seq(int a, int b, int step = 1);
// a to b in steps, each printed with format.
Texts Steps(double a, double b, double step, const char* format);
Texts Cat(std::initializer_list<Texts> parts);
inline const Texts kTrueFalse = {"True", "False"};

PageRow Note(int row, const char* label);
PageRow Int(int row, const char* label, const char* member, Texts suggestions);
PageRow Num(int row, const char* label, const char* member, const char* format, Texts suggestions);
// An integer row ("%d") or a number row ("%f") by the member's type.
PageRow Val(int row, const char* label, const char* member, Texts suggestions);
PageRow Expr(int row, const char* label, const char* member, const char* format, Texts suggestions);
PageRow Flag(int row, const char* label, const char* member, Texts suggestions = kTrueFalse);
// A choice row offering all names of the member's list in list order.
PageRow Pick(int row, const char* label, const char* member);
PageRow Colour(int row, const char* label, const char* member, Texts suggestions);
PageRow Text(int row, const char* label, const char* member, Texts suggestions);
PageRow At(PageRow row, int element);
Page MakePage(int id, std::vector<PageRow> rows);

void AddFilePages(std::vector<Page>& pages);
void AddResizePages(std::vector<Page>& pages);
void AddBasicPages(std::vector<Page>& pages);
void AddMiscPages(std::vector<Page>& pages);
void AddFilterPages(std::vector<Page>& pages);
void AddRestorationPages(std::vector<Page>& pages);
void AddStackPages(std::vector<Page>& pages);
void AddProgramPages(std::vector<Page>& pages);

}  // namespace pages
