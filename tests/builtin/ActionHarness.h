#pragma once
// Builds the certificate, shortcut, site and task actions from XML snippets
// through the factory and describes them with their templates.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NyBuiltInActions.h"
#include "XmlItem.h"

inline std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c);
  return s;
}

class ActionHarness : public testing::Test {
 protected:
  // The action of a snippet; the snippet's item lives as long as the fixture.
  INyAction* Make(const std::string& xml) {
    m_items.push_back(std::make_unique<XmlItem>(xml));
    m_actions.emplace_back(m_factory.CreateAction(m_items.back()->Get()));
    return m_actions.back().get();
  }
  uint32_t Run(const std::string& xml) {
    INyAction* pAction = Make(xml);
    return pAction != nullptr ? pAction->Do(nullptr) : 0xFFFFFFFF;
  }
  std::string Describe(INyAction* pAction, uint32_t* pu4Result = nullptr) {
    CNyString text;
    const uint32_t u4Result = pAction->GetDescription(m_templates.Get(), nullptr, &text);
    if (pu4Result != nullptr) *pu4Result = u4Result;
    return text.GetAnsi();
  }
  // A template root without the action's own template.
  uint32_t DescribeWithoutTemplate(const std::string& xml) {
    XmlItem noTemplates("<ActionDescString><File>x</File></ActionDescString>");
    CNyString text;
    return Make(xml)->GetDescription(noTemplates.Get(), nullptr, &text);
  }

  CNyBuiltInActionFactory m_factory;
  XmlItem m_templates{
      "<ActionDescString>"
      "<CreateShortcut><en_us>Create shortcut $[path]</en_us></CreateShortcut>"
      "<AddTrustedSite><en_us>Add trusted site $[url]</en_us></AddTrustedSite>"
      "<DelTrustedSite><en_us>Delete trusted site $[url]</en_us></DelTrustedSite>"
      "<RegCertFile><en_us>Register cert file $[src] to $[store]</en_us></RegCertFile>"
      "<UnRegCert><en_us>Unregister $[src] cert in $[store]</en_us></UnRegCert>"
      "<SetAppTaskScheduler><en_us>Task $[name] $[type]</en_us></SetAppTaskScheduler>"
      "</ActionDescString>"};
  std::vector<std::unique_ptr<XmlItem>> m_items;
  std::vector<std::unique_ptr<INyAction>> m_actions;
};
