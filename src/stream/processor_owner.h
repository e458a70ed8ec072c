// What a stream processor needs of the object that created and lists it. The manager implements
// it; declaring it here keeps the stream layer free of the module above it.
#pragma once

namespace tessil {

class StreamProcessor;

class ProcessorOwner {
 public:
  // The list mutex guards the owner's processor list and every push of a setting; it is
  // recursive for its holder and always taken before a processor's processing mutex.
  virtual void AcquireListMutex() = 0;
  virtual void ReleaseListMutex() = 0;
  // Called by a processor's destructor only; takes the list mutex itself.
  virtual void UnregisterProcessor(StreamProcessor* processor) = 0;

 protected:
  // Owners are never destroyed through this interface.
  ~ProcessorOwner() = default;
};

}  // namespace tessil
