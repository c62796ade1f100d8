#include "rtl/Component.h"

#include <algorithm>
#include <cctype>

#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/Lists.h"

namespace rtl {

namespace {

bool IsValidIdent(const std::string& name) {
  if (name.empty()) return false;
  auto ok = [](char c, bool first) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x80 && (std::isalpha(u) || c == '_' || (!first && std::isdigit(u)));
  };
  if (!ok(name[0], true)) return false;
  return std::all_of(name.begin() + 1, name.end(), [&](char c) { return ok(c, false); });
}

}  // namespace

TComponent::TComponent(TComponent* owner) {
  if (owner == nullptr) return;
  if (owner->FComponentState.Contains(csLoading)) FComponentState.Include(csLoading);
  if (owner->FComponentState.Contains(csDesigning)) FComponentState.Include(csDesigning);
  owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Tell every component linked to this one; each answer unlinks it, so walk a
  // shrinking list from the end.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    other->RemoveNotification(this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int32_t index) const {
  if (index < 0 || index >= ComponentCount()) RaiseListIndexError(index);
  return FComponents[static_cast<size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents) {
    if (UpperCase(c->FName) == UpperCase(name)) return c;
  }
  return nullptr;
}

int32_t TComponent::ComponentIndex() const {
  if (FOwner == nullptr) return -1;
  auto& list = FOwner->FComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int32_t>(it - list.begin());
}

void TComponent::SetName(const std::string& name) {
  if (name == FName) return;
  if (!name.empty() && !IsValidIdent(name)) {
    throw EComponentError(Format("'%s' is not a valid component name", name));
  }
  if (FOwner != nullptr) {
    TComponent* existing = FOwner->FindComponent(name);
    if (existing != nullptr && existing != this) {
      throw EComponentError(Format("A component named %s already exists", name));
    }
  }
  DoSetName(name);
}

void TComponent::DoSetName(const std::string& name) { FName = name; }

void TComponent::InsertComponent(TComponent* component) {
  // Refuse a clashing name before the component leaves its current owner, so a
  // refused move leaves it where it was.
  TComponent* clash = FindComponent(component->FName);
  if (clash != nullptr && clash != component) {
    throw EComponentError(Format("A component named %s already exists", component->FName));
  }
  if (component->FOwner == this) return;
  if (component->FOwner != nullptr) component->FOwner->RemoveComponent(component);
  Insert(component);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component->FOwner != this) return;
  Notification(component, opRemove);
  Remove(component);
}

void TComponent::Insert(TComponent* component) {
  FComponents.push_back(component);
  component->FOwner = this;
}

void TComponent::Remove(TComponent* component) {
  auto it = std::find(FComponents.begin(), FComponents.end(), component);
  if (it != FComponents.end()) FComponents.erase(it);
  component->FOwner = nullptr;
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component != nullptr) RemoveFreeNotification(component);
  // A handler may free components of this owner; re-check the bound each step.
  for (size_t i = FComponents.size(); i-- > 0;) {
    if (i >= FComponents.size()) {
      i = FComponents.size();
      continue;
    }
    FComponents[i]->Notification(component, operation);
  }
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (FOwner == nullptr || component->FOwner != FOwner) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end()) {
      FFreeNotifies.push_back(component);
      component->FreeNotification(this);
    }
  }
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveNotification(TComponent* component) {
  auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component);
  if (it != FFreeNotifies.end()) FFreeNotifies.erase(it);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  RemoveNotification(component);
  component->RemoveNotification(this);
}

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* last = FComponents.back();
    // The owner itself is going, so a removal is announced only for a component
    // that others asked to hear about (FreeNotification, also from a sibling):
    // a sibling freed later must not keep a pointer to it.
    if (last->FComponentState.Contains(csFreeNotification)) {
      RemoveComponent(last);
    } else {
      Remove(last);
    }
    delete last;
  }
}

void TComponent::BeginLoading() {
  FComponentState.Include(csLoading);
  for (TComponent* c : FComponents) c->BeginLoading();
}

void TComponent::EndLoading() {
  Loaded();
  for (size_t i = 0; i < FComponents.size(); ++i) {
    if (FComponents[i]->FComponentState.Contains(csLoading)) FComponents[i]->EndLoading();
  }
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::SetDesigning(bool designing) {
  if (designing) {
    FComponentState.Include(csDesigning);
  } else {
    FComponentState.Exclude(csDesigning);
  }
  for (TComponent* c : FComponents) c->SetDesigning(designing);
}

}  // namespace rtl
