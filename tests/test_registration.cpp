// SPDX-License-Identifier: GPL-3.0-or-later
// Registration of the two sides on synthetic boards with a known map: the
// true hole centres carried by the found map must land on their true places.
#include "board/Registration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "common/Error.h"

using namespace rastrace;

TEST(Registration, HundredSeededBoardsAlign) {
  double worstRms=0, worstMax=0; int fails=0;
  auto t0=std::chrono::steady_clock::now();
  for(int trial=0;trial<100;++trial){
    std::mt19937 g(trial+1); std::uniform_real_distribution<double> U(0,1); std::normal_distribution<double> N(0,0.15);
    std::vector<Vec2> mm; std::vector<double> dia;
    for(int i=0;i<600;++i){mm.push_back({5+150*U(g),5+90*U(g)}); dia.push_back(0.3+0.3*U(g));}
    for(int c=0;c<8;++c){double x=10+15*c,y=20+ (c%3)*25; for(int k=0;k<8;++k){mm.push_back({x,y+2.54*k});dia.push_back(0.9);mm.push_back({x+7.62,y+2.54*k});dia.push_back(0.9);}}
    for(int k=0;k<20;++k){mm.push_back({30+2.54*k,90});dia.push_back(1.0);mm.push_back({30+2.54*k,92.54});dia.push_back(1.0);}
    double s=600/25.4; Affine2 M; double th=(int(U(g)*4)*90+ (U(g)*10-5))*M_PI/180, sx=1+0.006*U(g)-0.003, sy=1+0.006*U(g)-0.003;
    M.m00=-std::cos(th)*sx; M.m01=-std::sin(th)*sy; M.m10=-std::sin(th)*sx; M.m11=std::cos(th)*sy; M.tx=3000+200*U(g); M.ty=1500+200*U(g);
    Affine2 inv=M.Inverse(); SideHoles T,B; std::vector<Vec2> tp,bp;
    for(size_t i=0;i<mm.size();++i){Vec2 p{mm[i].x*s,mm[i].y*s}; Vec2 q=inv.Apply(p); tp.push_back(p);bp.push_back(q);
      bool hideTop=U(g)<0.05; if(!hideTop) T.holes.push_back({{p.x+N(g),p.y+N(g)},0,dia[i]*s,true}); B.holes.push_back({{q.x+N(g),q.y+N(g)},0,dia[i]*s,true});}
    for(int k=0;k<35;++k){Vec2 p{s*160*U(g),s*100*U(g)}; Vec2 q=inv.Apply(p); B.holes.push_back({q,0,s*(0.2+2.8*U(g)),false});}
    try{ Alignment a=AlignSides(T,B); double sum=0,w=0; for(size_t i=0;i<tp.size();++i){Vec2 p=a.bottomToTop.Apply(bp[i]); double d=std::hypot(p.x-tp[i].x,p.y-tp[i].y); sum+=d*d; w=std::max(w,d);} double r=std::sqrt(sum/tp.size()); worstRms=std::max(worstRms,r); worstMax=std::max(worstMax,w); if(r>0.5||w>1.5){++fails; printf("trial %d rms %.3f worst %.3f matched %d\n",trial,r,w,a.matched);} }
    catch(const Error& e){++fails; printf("trial %d: %s\n",trial,e.what());}
  }
  double ms=std::chrono::duration<double,std::milli>(std::chrono::steady_clock::now()-t0).count();
  printf("worst trial: rms %.3f px, worst %.3f px; %.1f ms a trial\n",worstRms,worstMax,ms/100);
  EXPECT_EQ(fails,0);
}

TEST(Registration, PointPairs) {
    Affine2 m{-0.99, 0.05, 0.04, 1.01, 100, 50};
    std::vector<std::pair<Vec2, Vec2>> pairs;
    for (Vec2 b : {Vec2{10, 10}, Vec2{500, 20}, Vec2{30, 400}}) pairs.push_back({m.Apply(b), b});
    Alignment a = AlignOnPoints(pairs);
    EXPECT_NEAR(a.bottomToTop.m00, m.m00, 1e-9);
    EXPECT_NEAR(a.bottomToTop.ty, m.ty, 1e-6);
    EXPECT_EQ(a.rmsPx, 0);
    EXPECT_THROW(AlignOnPoints(std::span(pairs).first(2)), Error);
    std::vector<std::pair<Vec2, Vec2>> line{{{0, 0}, {0, 0}}, {{10, 10}, {10, 10}}, {{20, 20}, {20, 20}}};
    EXPECT_THROW(AlignOnPoints(line), Error);
}

TEST(Registration, TooFewHolesIsAnError) {
    SideHoles t, b;
    for (int i = 0; i < 5; ++i) t.holes.push_back({{100.0 * i, 7.0 * i * i}, 0, 20, true}), b.holes = t.holes;
    EXPECT_THROW(AlignSides(t, b), Error);
}
