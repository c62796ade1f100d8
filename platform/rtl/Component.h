// The platform's component: a named object with an owner that frees it.
//
// Ownership. A component created with an owner is inserted into the owner's
// list and freed by it: the owner's destructor frees its components from the
// last to the first. Create owned components with `new T(owner)`; deleting one
// directly takes it out of its owner's list first. A component without owner
// belongs to whoever created it (hold it in a std::unique_ptr).
//
// Notifications. When a component is inserted into or removed from an owner,
// the owner's Notification(component, opInsert/opRemove) runs and, by the
// default Notification, reaches every component the owner holds (and their own
// components, recursively). Components in different owners that refer to each
// other register with FreeNotification: when either is destroyed, the other
// gets Notification(it, opRemove), so no dangling reference survives.
//
// State. csDestroying is set on a component and all it owns as soon as its
// destruction starts; csLoading is set while it is being read from a stored
// description (BeginLoading) and cleared by Loaded, which subclasses extend to
// apply what they deferred while loading.
//
// Construction and destruction. Notification(opInsert) runs inside
// TComponent's constructor and the removal notification of a deleted component
// inside ~TComponent, so the owner's components see the inserted or deleted
// component as a plain TComponent then (no dynamic_cast to its class succeeds).
// A subclass that owners must recognise on insertion repeats the notification
// (Owner()->Notification(this, opInsert)) at the end of its own constructor.
//
// Destruction order. ~TComponent runs after a subclass's destructor, so a
// subclass whose owned components need it alive while they go calls
// Destroying() and DestroyComponents() first thing in its own destructor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

enum TOperation { opInsert, opRemove };

enum TComponentStateItem : uint16_t {
  csLoading = 1 << 0,
  csReading = 1 << 1,
  csWriting = 1 << 2,
  csDestroying = 1 << 3,
  csDesigning = 1 << 4,
  csFreeNotification = 1 << 5,
};

class TComponentState {
 public:
  bool Contains(TComponentStateItem item) const { return (FBits & item) != 0; }
  void Include(TComponentStateItem item) { FBits = static_cast<uint16_t>(FBits | item); }
  void Exclude(TComponentStateItem item) { FBits = static_cast<uint16_t>(FBits & ~item); }

 private:
  uint16_t FBits = 0;
};

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  // Empty, or a letter or '_' followed by letters, digits and '_' (else
  // EComponentError "'x' is not a valid component name"); unique within the
  // owner ignoring case (else EComponentError "A component named X already exists").
  void SetName(const std::string& name);

  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  // Raises EListError for an index out of range.
  TComponent* Components(int32_t index) const;
  // The owned component of that name (case ignored); nullptr when none.
  TComponent* FindComponent(const std::string& name) const;
  int32_t ComponentIndex() const;  // position in the owner's list; -1 without owner

  // Moves `component` into this owner's list (taking it from its current owner)
  // and notifies with opInsert; RemoveComponent notifies with opRemove and
  // takes it out, leaving it without owner (the caller then owns it).
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  const TComponentState& ComponentState() const { return FComponentState; }

  // Registers both ways for a removal notification when either is destroyed.
  // Components of the same owner need none (the owner notifies them).
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Marks this component and everything it owns as being destroyed.
  void Destroying();
  // Frees the owned components from the last to the first; one that was the
  // target of FreeNotification is first removed with opRemove to the owner's
  // components, the others silently.
  void DestroyComponents();

  // Loading from a stored description: BeginLoading sets csLoading on this
  // component and those it owns (a component created with a loading owner starts
  // loading too); EndLoading calls Loaded on this component, then on each owned
  // one still loading, in list order. Loaded clears csLoading (subclasses call
  // the inherited Loaded first, then apply what they deferred).
  void BeginLoading();
  void EndLoading();
  virtual void Loaded();

  void SetDesigning(bool designing);

  // Passes the notification on to every owned component, last first; a removal
  // also drops any free-notification link with the removed component.
  virtual void Notification(TComponent* component, TOperation operation);

 protected:
  // Subclasses may validate or react to a new name, then call the inherited one.
  virtual void DoSetName(const std::string& name);
  TComponentState& MutableState() { return FComponentState; }

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void RemoveNotification(TComponent* component);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState;
};

}  // namespace rtl
