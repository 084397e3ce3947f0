// The UI thread's hold on the scene, for readers on other threads.
//
// The host makes, reparents and deletes models, devices and takes on the
// UI thread only (fbsdk/fbmodel.h), and a model pointer another thread got
// from the scene is good only until the UI thread deletes that model. In
// this program the UI thread is the shell: it changes the scene inside a
// command and nowhere else. So the shell holds the gate while a command
// runs and lets go while it waits (at its prompt, or asleep in 'wait' and
// 'record'); a reader that visits the scene through the gate sees every
// pointer it takes stay good until it leaves.
//
// The gate is never on the per-sample path: the input and evaluation
// threads do not take it, and a visit holds it only while it copies what it
// needs.
#pragma once

#include <cstdint>
#include <mutex>

namespace orbel::hostapp {

class SceneGate {
 public:
  // UI thread. Holds nest: the gate opens at the last Release.
  void Hold() {
    if (mDepth++ == 0) Enter();
  }
  void Release() {
    if (--mDepth == 0) mMutex.unlock();
  }

  // UI thread: a hold for the object's life.
  class Held {
   public:
    explicit Held(SceneGate& gate) : mGate(gate) { mGate.Hold(); }
    ~Held() { mGate.Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    SceneGate& mGate;
  };

  // UI thread, inside a hold: lets readers in for the object's life (while
  // the shell sleeps).
  class Opening {
   public:
    explicit Opening(SceneGate& gate) : mGate(gate), mHeld(gate.mDepth > 0) {
      if (mHeld) mGate.mMutex.unlock();
    }
    ~Opening() {
      if (mHeld) mGate.mMutex.lock();
    }
    Opening(const Opening&) = delete;
    Opening& operator=(const Opening&) = delete;

   private:
    SceneGate& mGate;
    bool mHeld;
  };

  // Any thread but the UI thread: runs `visit(commands)` while the UI thread
  // is out of the scene. `commands` counts the holds: while it stays the
  // same, no command ran, and what only commands change (which models
  // exist, their names, parents and show flags) is as the last visit saw
  // it; the engine threads change poses and texts all the time.
  template <typename Fn>
  void Visit(Fn&& visit) {
    std::lock_guard<std::mutex> lock(mMutex);
    visit(mCommands);
  }

 private:
  void Enter() {
    mMutex.lock();
    ++mCommands;
  }

  std::mutex mMutex;
  std::uint64_t mCommands = 0;  // under mMutex
  int mDepth = 0;               // UI thread only
};

}  // namespace orbel::hostapp
